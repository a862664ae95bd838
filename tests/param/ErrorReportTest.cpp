#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "vkmodel.h"
#include "ErrorReport.h"
#include "Messages.h"

namespace {

TEST(FormatReport, KeepsLineBreaksAndArguments) {
    EXPECT_EQ(vk::FormatReport(vk::msg::kOutOfRange, "5", "0", "3"),
              L"Der Wert 5 liegt nicht\nim erlaubten Bereich\nvon 0 bis 3.");
    EXPECT_EQ(vk::FormatReport(vk::msg::kInvalidDataType, 20),
              L"Der Datentyp 20 ist nicht g\u00fcltig!");
}

TEST(FormatReport, UmlautsAndSharpSSurviveTheAnsiRoundTrip) {
    EXPECT_EQ(vk::FormatReport(vk::msg::kNullResult),
              L"Die \u00fcbergebene Adresse\nf\u00fcr den R\u00fcckgabewert\nzeigt auf NULL!");
    EXPECT_EQ(vk::FormatReport(vk::msg::kMinAboveMax, "0"),
              L"Das Minimum darf nicht gr\u00f6\u00dfer sein,\nals das Maximum von 0.");
    EXPECT_EQ(vk::FormatReport(vk::msg::kStorageOpen), L"Fehler beim \u00d6ffnen des Storage.");
}

TEST(FormatReport, WideArgumentsGoThroughCodePage1252) {
    const vk::AnsiText name(L"Gr\u00f6\u00dfe");
    EXPECT_STREQ(name.c_str(),
                 "Gr\xf6\xdf"
                 "e")
        << "AnsiText(L\"Größe\")";
    EXPECT_EQ(vk::FormatReport(vk::msg::kNameTaken, name.c_str()),
              L"Ein Object mit dem Namen\nGr\u00f6\u00dfe\nist bereits vorhanden.");
}

TEST(FormatReport, LongTextIsCutAt255Characters) {
    const std::wstring longName(400, L'x');
    const std::wstring text = vk::FormatReport(vk::msg::kNameTaken, vk::AnsiText(longName).c_str());
    ASSERT_EQ(text.size(), vk::kMaxReportLength) << "length of the cut report";
    EXPECT_EQ(text.substr(0, 25), L"Ein Object mit dem Namen\n");
    EXPECT_EQ(text.substr(25), std::wstring(vk::kMaxReportLength - 25, L'x'));
}

class ReportErrorTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(ReportErrorTest, PublishesTheTextAsErrorInformation) {
    vk::ReportError(vk::msg::kEmptyName);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK) << "GetErrorInfo after ReportError";
    ASSERT_NE(info, nullptr);
    BSTR description = nullptr;
    EXPECT_EQ(info->GetDescription(&description), S_OK);
    EXPECT_STREQ(description, L"Geben Sie einen\ng\u00fcltigen Namen an!") << "GetDescription";
    SysFreeString(description);
    GUID guid = GUID_NULL;
    EXPECT_EQ(info->GetGUID(&guid), S_OK);
    EXPECT_TRUE(IsEqualGUID(guid, IID_VKModelParameter)) << "GetGUID is not IID_VKModelParameter";
    BSTR source = nullptr;
    EXPECT_EQ(info->GetSource(&source), S_OK);
    LPOLESTR progId = nullptr;
    if (SUCCEEDED(ProgIDFromCLSID(CLSID_vkObjectParameter, &progId))) {
        EXPECT_STREQ(source, progId) << "GetSource";
        CoTaskMemFree(progId);
    }
    SysFreeString(source);
    info->Release();
}

TEST_F(ReportErrorTest, NullFormatLeavesTheErrorInformationAlone) {
    vk::ReportError(vk::msg::kEmptyName);
    vk::ReportError(nullptr);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK) << "GetErrorInfo after ReportError(nullptr)";
    BSTR description = nullptr;
    info->GetDescription(&description);
    EXPECT_STREQ(description, L"Geben Sie einen\ng\u00fcltigen Namen an!");
    SysFreeString(description);
    info->Release();
}

}  // namespace
