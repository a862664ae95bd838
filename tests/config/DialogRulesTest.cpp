// The main dialog's decisions that need no window, and the start-up switches.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "ConfigTestSupport.h"
#include "com/CategoryClasses.h"
#include "com/ComInit.h"
#include "core/CommandLine.h"
#include "core/DialogRules.h"
#include "resource.h"

namespace ovconfig::test {
namespace {

TEST(StartupAction, Switches) {
    struct Case {
        const wchar_t* line;
        StartupAction action;
    } cases[] = {
        {L"", StartupAction::kShowDialog},
        {L"/RegServer", StartupAction::kRegister},
        {L"-regserver", StartupAction::kRegister},
        {L"/UNREGSERVER", StartupAction::kUnregister},
        {L"-RegServer /UnregServer", StartupAction::kUnregister},
        {L"-Embedding", StartupAction::kExit},
        {L"/Automation", StartupAction::kExit},
        {L"RegServer", StartupAction::kShowDialog},
        {L"/RegServerX", StartupAction::kShowDialog},
        {L"  /x   -RegServer  ", StartupAction::kRegister},
    };
    for (const Case& c : cases)
        EXPECT_EQ(static_cast<int>(c.action), static_cast<int>(ParseStartupAction(c.line)))
            << Narrow(c.line);
    EXPECT_EQ(static_cast<int>(StartupAction::kShowDialog),
              static_cast<int>(ParseStartupAction(nullptr)));
}

TEST(DialogRules, DevSpecificTakesOneSlaveAddressAtMost) {
    for (const wchar_t* good : {L"", L"Slave%d/", L"DP/%d", L"%s%x"})
        EXPECT_TRUE(IsDevSpecificAcceptable(good)) << Narrow(good);
    for (const wchar_t* bad : {L"%d%d", L"S%d/T%d/"})
        EXPECT_FALSE(IsDevSpecificAcceptable(bad)) << Narrow(bad);
}

TEST(DialogRules, HiddenControlsOfEachBit) {
    EXPECT_TRUE(ControlsHiddenBy(0).empty());
    const std::vector<int> all = ControlsHiddenBy(7);
    for (int id : {1010, 1003, 1004, 1012, 1014, 1007, 1008, 1016, 1019, 1020, 1011, 1015, 1017})
        EXPECT_NE(all.end(), std::find(all.begin(), all.end(), id)) << id;
    for (int kept : {IDC_SERVER_LIST, IDC_TITLE_LINE, IDC_PICTURE, IDOK, IDCANCEL})
        EXPECT_EQ(all.end(), std::find(all.begin(), all.end(), kept)) << kept;
    EXPECT_EQ(5u, ControlsHiddenBy(1).size());
}

TEST(DialogRules, PictureKeepsItsAspectRatio) {
    struct Case {
        RECT frame;
        SIZE picture;
        RECT fitted;
    } cases[] = {
        {{0, 0, 200, 100}, {50, 50}, {100, 0, 200, 100}},    // wider frame: right edge
        {{10, 10, 110, 210}, {50, 50}, {10, 10, 110, 110}},  // taller frame: top
        {{0, 0, 100, 50}, {200, 100}, {0, 0, 100, 50}},      // same ratio
        {{0, 0, 100, 50}, {0, 10}, {0, 0, 100, 50}},         // no picture: the frame
    };
    for (const Case& c : cases) {
        const RECT r = FitPicture(c.frame, c.picture);
        EXPECT_TRUE(EqualRect(&r, &c.fitted))
            << r.left << "," << r.top << "," << r.right << "," << r.bottom;
    }
}

TEST(DialogRules, OwnServerAndClassesWithoutProgIdAreNotOffered) {
    com::ComInitializer com(COINIT_APARTMENTTHREADED);
    std::vector<com::CategoryClass> classes;
    ASSERT_EQ(S_OK, com::ListCategoryClasses(CheckedCategories(true, false, false), &classes));
    const auto has = [&](const wchar_t* progId) {
        return std::any_of(classes.begin(), classes.end(),
                           [&](const com::CategoryClass& c) { return c.progId == progId; });
    };
    ASSERT_TRUE(has(L"Axolent.Orvane")) << "the server registers as a PROFIBUS-DP bus server";
    ASSERT_TRUE(has(L"Orvane.BusSimulator")) << "ProgID of the simulator's class";
    classes.push_back({CLSID_NULL, L"", L"no ProgID"});
    const std::vector<std::wstring> offered = CandidateProgIds(classes, L"Axolent.Orvane");
    EXPECT_EQ(offered.end(), std::find(offered.begin(), offered.end(), L"Axolent.Orvane"));
    EXPECT_EQ(offered.end(), std::find(offered.begin(), offered.end(), L""));
    EXPECT_NE(offered.end(), std::find(offered.begin(), offered.end(), L"Orvane.BusSimulator"));

    EXPECT_EQ(S_OK, com::ListCategoryClasses({}, &classes));
    EXPECT_TRUE(classes.empty()) << "no category checked: nothing listed";
}

}  // namespace
}  // namespace ovconfig::test
