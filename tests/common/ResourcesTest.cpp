// RAII owners, byte arrays and marshalled streams.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "HrCheck.h"
#include "com/ComInit.h"
#include "com/Resources.h"
#include "TestObjects.h"

namespace {

TEST(UniqueVariant, CopiesAndMovesOut) {
    com::UniqueVariant text(std::wstring_view(L"abc"));
    EXPECT_EQ(VT_BSTR, text.vt());
    VARIANT out;  // deliberately not initialised: out-parameters arrive that way
    std::memset(&out, 0xCC, sizeof(out));
    ASSERT_HR(S_OK, text.copy_to(&out));
    EXPECT_EQ(VT_BSTR, V_VT(&out));
    EXPECT_NE(V_BSTR(text.get()), V_BSTR(&out)) << "deep copy";
    ::VariantClear(&out);
    std::memset(&out, 0xCC, sizeof(out));
    ASSERT_HR(S_OK, text.move_to(&out));
    EXPECT_EQ(VT_EMPTY, text.vt()) << "moved out";
    com::UniqueVariant adopted;
    adopted.reset(out);
    EXPECT_STREQ(L"abc", V_BSTR(adopted.get()));
    com::UniqueVariant number(LONG{5});
    EXPECT_HR(S_OK, adopted.copy_from(*number.get()));
    EXPECT_EQ(VT_I4, adopted.vt());
}

TEST(ByteArrays, RoundTripAndTypeChecks) {
    const std::vector<BYTE> telegram{0x01, 0x02, 0x03, 0xFF};
    VARIANT value;
    ASSERT_HR(S_OK, com::BytesToVariant(telegram.data(), telegram.size(), &value));
    EXPECT_EQ(VT_ARRAY | VT_UI1, V_VT(&value));
    LONG lower = -1;
    ::SafeArrayGetLBound(V_ARRAY(&value), 1, &lower);
    EXPECT_EQ(0, lower) << "lower bound 0";
    std::vector<BYTE> back;
    ASSERT_HR(S_OK, com::VariantToBytes(value, &back));
    EXPECT_EQ(telegram, back);
    ::VariantClear(&value);

    VARIANT empty_array;
    ASSERT_HR(S_OK, com::BytesToVariant(nullptr, 0, &empty_array)) << "an empty telegram";
    EXPECT_HR(S_OK, com::VariantToBytes(empty_array, &back));
    EXPECT_TRUE(back.empty());
    ::VariantClear(&empty_array);

    VARIANT number;
    V_VT(&number) = VT_I4;
    V_I4(&number) = 3;
    EXPECT_HR(DISP_E_TYPEMISMATCH, com::VariantToBytes(number, &back));

    // Lower bound 5 is read all the same.
    SAFEARRAYBOUND bound = {3, 5};
    com::UniqueSafeArray shifted(::SafeArrayCreate(VT_UI1, 1, &bound));
    BYTE* data = nullptr;
    ::SafeArrayAccessData(shifted.get(), reinterpret_cast<void**>(&data));
    data[0] = 7, data[1] = 8, data[2] = 9;
    ::SafeArrayUnaccessData(shifted.get());
    EXPECT_HR(S_OK, com::ReadByteArray(shifted.get(), &back));
    EXPECT_EQ((std::vector<BYTE>{7, 8, 9}), back);

    com::UniqueSafeArray longs(::SafeArrayCreateVector(VT_I4, 0, 2));
    EXPECT_HR(DISP_E_BADVARTYPE, com::ReadByteArray(longs.get(), &back)) << "VT_I4 array";
    SAFEARRAYBOUND two[2] = {{2, 0}, {2, 0}};
    com::UniqueSafeArray matrix(::SafeArrayCreate(VT_UI1, 2, two));
    EXPECT_HR(E_INVALIDARG, com::ReadByteArray(matrix.get(), &back)) << "two dimensions";
}

TEST(CoTaskMemOwner, FreesUnlessReleased) {
    com::CoTaskMem<HRESULT> errors;
    ASSERT_TRUE(errors.alloc(3));
    EXPECT_HR(S_OK, errors[2]) << "zero-filled";
    com::CoTaskMem<HRESULT> none;
    EXPECT_TRUE(none.alloc(0)) << "count 0 still gives a pointer";
    EXPECT_NE(nullptr, none.get());
    EXPECT_FALSE(errors.alloc(static_cast<size_t>(-1) / 2)) << "overflowing size";
    HRESULT* raw = none.release();
    ::CoTaskMemFree(raw);
    LPWSTR text = nullptr;
    ASSERT_HR(S_OK, com::CoTaskMemString(L"Item", &text));
    EXPECT_STREQ(L"Item", text);
    ::CoTaskMemFree(text);
}

TEST(CoTaskMemStrings, HandsOutTheStringsAndNullEntriesOnRelease) {
    com::CoTaskMemStrings names;
    ASSERT_TRUE(names.alloc(3)) << "alloc(3)";
    EXPECT_EQ(nullptr, names[1]) << "an entry not set";
    ASSERT_HR(S_OK, names.Set(0, L"Item Value")) << "Set(0)";
    ASSERT_HR(S_OK, names.Set(2, std::wstring_view(L"Quality", 4))) << "Set(2) of a part of a text";
    LPWSTR* raw = names.release();
    ASSERT_NE(nullptr, raw) << "release()";
    EXPECT_STREQ(L"Item Value", raw[0]);
    EXPECT_EQ(nullptr, raw[1]) << "entry 1 after release";
    EXPECT_STREQ(L"Qual", raw[2]);
    EXPECT_EQ(nullptr, names.release()) << "a second release";
    for (int i = 0; i < 3; ++i) ::CoTaskMemFree(raw[i]);
    ::CoTaskMemFree(raw);

    // reset() (as on a failure half-way) takes the strings set so far with the array.
    ASSERT_TRUE(names.alloc(2));
    ASSERT_HR(S_OK, names.Set(0, L"kept until reset"));
    names.reset();
    EXPECT_EQ(nullptr, names.release()) << "release after reset";
}

TEST(Streams, HGlobalRoundTrip) {
    const BYTE bytes[] = {1, 2, 3};
    com::ComPtr<IStream> stream;
    ASSERT_HR(S_OK, com::HGlobalStream::FromBytes(bytes, sizeof(bytes), &stream));
    BYTE first = 0;
    ULONG read = 0;
    EXPECT_HR(S_OK, stream->Read(&first, 1, &read));
    EXPECT_EQ(1, first) << "positioned at the start";
    std::vector<BYTE> all;
    EXPECT_HR(S_OK, com::HGlobalStream::ToBytes(stream.get(), &all));
    EXPECT_EQ((std::vector<BYTE>{1, 2, 3}), all);
}

TEST(Streams, MarshalledStreamCrossesThreadsAndReleasesUnusedMarshalData) {
    comtest::counters().Reset();
    com::ComPtr<comtest::CThing> thing;
    ASSERT_HR(S_OK, com::MakeObject(&thing));
    com::MarshalledStream stream;
    ASSERT_HR(S_OK,
              stream.Marshal(__uuidof(IPersistStream), static_cast<IPersistStream*>(thing.get())));
    HRESULT unmarshal_hr = E_FAIL, call_hr = E_FAIL;
    std::thread worker([&] {
        com::ComInitializer com(COINIT_MULTITHREADED);
        com::ComPtr<IPersistStream> persist;
        unmarshal_hr = stream.Unmarshal(&persist);
        if (persist) call_hr = persist->IsDirty();
    });
    worker.join();
    EXPECT_HR(S_OK, unmarshal_hr) << "Unmarshal on the worker thread";
    EXPECT_HR(S_FALSE, call_hr) << "IsDirty through the unmarshalled pointer";
    EXPECT_TRUE(stream.empty());

    // Marshalled but never unmarshalled: the reference in the marshal data is given back.
    com::MarshalledStream unused;
    ASSERT_HR(S_OK,
              unused.Marshal(__uuidof(IPersistStream), static_cast<IPersistStream*>(thing.get())));
    unused.reset();
    thing.reset();
    EXPECT_EQ(1, comtest::counters().destroyed.load()) << "object destroyed: no reference leaked";
}

}  // namespace
