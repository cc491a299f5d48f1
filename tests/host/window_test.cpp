// The program entry and the progress window as calls on the host stand-in.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "run/extract_run.h"
#include "test_support.h"
#include "ui/progress_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int);

namespace {

size_t index_of(const std::vector<std::string>& calls, const std::string& prefix) {
    for (size_t i = 0; i < calls.size(); ++i)
        if (calls[i].compare(0, prefix.size(), prefix) == 0) return i;
    return calls.size();
}

TEST(Window, CentresWithSignedDivision) {
    struct Case {
        int width, height;
        const char* expected;
    };
    const Case cases[] = {
        {1024, 768, "389,340"},
        {244, 86, "0,0"},
        {243, 85, "-1,-1"},
        {100, 50, "-72,-18"},
    };
    g_popup_window = nullptr;
    for (const Case& c : cases) {
        host::set_screen_size(c.width, c.height);
        host::clear_calls();
        layout_progress_window();
        const auto& calls = host::calls();
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0], std::string("SetWindowPos(0,0,") + c.expected + ",245,87,0x4)");
        EXPECT_EQ(calls[1], "SetWindowPos(0,0,20,50,200,20,0x4)");
    }
    host::set_screen_size(1024, 768);
}

TEST(Window, PaintsTheHeadlineAndTheCurrentName) {
    RECT client{0, 0, 239, 81};
    lstrcpyA(g_current_name, "setup.exe");
    host::clear_calls();
    paint_content(nullptr, client);
    paint_content(nullptr, client);  // a second paint reuses the font
    std::vector<std::string> text;
    for (const std::string& call : host::calls())
        if (call.rfind("ExtTextOutA", 0) == 0 || call.rfind("CreateFontA", 0) == 0 ||
            call.rfind("SetBkMode", 0) == 0)
            text.push_back(call.substr(0, call.find(")=") == std::string::npos ? call.size()
                                                                               : call.find(")=") + 1));
    const std::vector<std::string> once = {
        "SetBkMode(0,1)",
        "ExtTextOutA(10,10,0x0,239x81,Self-Extraction In Progress, Please wait...,0)",
        "ExtTextOutA(20,32,0x0,239x81,Extracting:,0)",
        "ExtTextOutA(77,32,0x0,239x81,setup.exe,0)"};
    std::vector<std::string> expected = once;
    expected.insert(expected.end(), once.begin(), once.end());
    if (!text.empty() && text[0].rfind("CreateFontA", 0) == 0) {  // the process's first paint
        EXPECT_EQ(text[0], "CreateFontA(12,0,0,0,400,0,0,0,0,0,0,0,0,MS Sans Serif)");
        text.erase(text.begin());
    }
    EXPECT_EQ(text, expected);

    g_current_name[0] = '\0';
    host::clear_calls();
    paint_content(nullptr, client);
    EXPECT_EQ(std::count_if(host::calls().begin(), host::calls().end(),
                            [](const std::string& c) { return c.rfind("ExtTextOutA", 0) == 0; }),
              1) << "an empty name: only the first line";
    lstrcpyA(g_current_name, "readme.txt");
}

TEST(Window, EntryShowsTheFailureOnlyAfterTheLaunch) {
    RunSetup setup;
    write_file(setup.carrier(), build_carrier(fake_stub(), "a", {{"a", {1, 2}}}));
    host::clear_calls();
    lstrcpyA(g_current_name, "readme.txt");
    EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 1);
    auto calls = host::calls();
    EXPECT_EQ(index_of(calls, "MessageBoxA"), calls.size()) << "success shows no message";
    // Setup order, and the first paint shows "readme.txt".
    const size_t create = index_of(calls, "CreateWindowExA(0x0,SelfExtractor,Self-Extracting,0x90400000,0,0,0,0,0,0)");
    const size_t init = index_of(calls, "InitCommonControls");
    const size_t bar = index_of(calls, "CreateWindowExA(0x0,msctls_progress32,,0x50000000,0,0,0,0,#");
    const size_t show = index_of(calls, "ShowWindow(");
    const size_t layout = index_of(calls, "SetWindowPos(");
    const size_t first_name = index_of(calls, "ExtTextOutA(77,32,0x0,245x87,readme.txt,");
    EXPECT_LT(create, init);
    EXPECT_LT(init, bar);
    EXPECT_LT(bar, show);
    EXPECT_LT(show, layout);
    EXPECT_LT(layout, first_name);
    ASSERT_LT(first_name, calls.size());
    EXPECT_LT(first_name, index_of(calls, "ExtTextOutA(77,32,0x0,245x87,a,"));
    const size_t registered = index_of(calls, "RegisterClassA(SelfExtractor,style=0x3,cursor=#");
    EXPECT_LT(registered, create);
    // No icon, the button face's brush (a colour's brush is its index plus
    // one), no extra bytes, no menu.
    ASSERT_LT(registered, calls.size());
    EXPECT_EQ(calls[registered].substr(calls[registered].find(",icon=")),
              ",icon=0,brush=16,extra=0/0,menu=(null))");

    write_file(setup.carrier(), fake_stub());  // no archive: the run fails
    write_file(setup.carrier(), build_carrier(fake_stub(), "a", {{"a", {1}}, {"..\\a", {1}}}));
    host::clear_calls();
    EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 1);
    calls = host::calls();
    const size_t launch = index_of(calls, "ShellExecuteW");
    const size_t box = index_of(calls, "MessageBoxA(#");
    ASSERT_LT(box, calls.size());
    EXPECT_LT(launch, box);
    EXPECT_EQ(calls[box - 1], "Sleep(500)");
    EXPECT_NE(calls[box].find(",File Extraction Error, Cannot Continue.,Error,0x0)"),
              std::string::npos) << calls[box];
}

TEST(Window, ProcedureAnswersItsMessages) {
    host::clear_calls();
    EXPECT_EQ(progress_window_proc(nullptr, WM_CREATE, 0, 0), 0);
    EXPECT_EQ(progress_window_proc(nullptr, WM_PAINT, 0, 0), 1);
    // The paint ends, with the device context's own font selected again.
    EXPECT_EQ(host::calls().back(), "EndPaint(0)");
    progress_window_proc(nullptr, WM_CLOSE, 0, 0);
    const auto& calls = host::calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2], "PostQuitMessage(0)");
    EXPECT_EQ(calls.back(), "DefWindowProcA(0,0x10)");
}

}  // namespace
