// The Win32 windows under Wine: what the layout table says they show, the
// grid's redraws per cursor operation, the indicator's GDI colours, and how
// the file-in-use dialog's modal loop ends.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/MessageTable.h"
#include "core/Errors.h"
#include "core/WinText.h"
#include "records/TableCursor.h"
#include "tests/support/MemoryStore.h"
#include "ui/GridRules.h"
#include "ui/Layout.h"
#include "ui/ProgressModel.h"
#include "ui/win32/CircularProgress.h"
#include "ui/win32/Fonts.h"
#include "ui/win32/Info.h"
#include "ui/win32/SysProgress.h"
#include "ui/win32/TableGrid.h"
#include "ui/win32/Win32Layout.h"
#include "ui/win32/updateExeMain.h"

namespace ue {
namespace {

using test::Column;
using V = FieldValue;

// The run context's two logged tables in memory, `rows` downloads each.
struct Tables {
    explicit Tables(int rows) {
        auto memory = std::make_unique<test::MemoryStore>();
        store = memory.get();
        store->AddTable("DownLoadFileLog", {Column("AID", "INTEGER"), Column("SoftID", "INTEGER"),
                                            Column("FileName", "TEXT"), Column("FileVer", "INTEGER"),
                                            Column("FileType", "INTEGER"), Column("IsClient", "BOOLEAN"),
                                            Column("UpdatePath", "TEXT")});
        store->AddTable("UpdateFileLog", {Column("AID", "INTEGER"), Column("SoftID", "INTEGER"),
                                          Column("FileName", "TEXT"), Column("FileVer", "INTEGER"),
                                          Column("IsClient", "BOOLEAN"), Column("BakPath", "TEXT"),
                                          Column("IsUpdate", "BOOLEAN")});
        for (int i = 1; i <= rows; ++i)
            store->AddRow("DownLoadFileLog", {V::Int(i), V::Int(7), V::Text("f" + std::to_string(i) + ".dll"),
                                              V::Int(1), V::Int(0), V::Bool(true), V::Text("")});
        connection.Attach(std::move(memory));
        downloads.OpenTable();
        applied.OpenTable();
    }
    test::MemoryStore* store;
    Connection connection;
    TableCursor downloads{connection, "DownLoadFileLog"};
    TableCursor applied{connection, "UpdateFileLog"};
};

std::string TextOf(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return Narrow(text);
}

std::string Utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

RECT ClientRectOf(HWND window) {
    RECT rect{};
    GetClientRect(window, &rect);
    return rect;
}

// A child's place in its parent's client area.
RECT PlaceIn(HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// The text colour the parent gives a static control.
COLORREF TextColourOf(HWND control) {
    HDC dc = CreateCompatibleDC(nullptr);
    SetTextColor(dc, RGB(1, 2, 3));
    SendMessageW(GetParent(control), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(control));
    const COLORREF colour = GetTextColor(dc);
    DeleteDC(dc);
    return colour;
}

void DrainMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

class Win32Windows : public testing::Test {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
    }
};

TEST_F(Win32Windows, ShowWhatTheLayoutTableSays) {
    Tables tables(3);
    int runs = 0;
    TFrmMain FrmMain(tables.downloads, tables.applied, [&] { ++runs; });
    TFrmInfo FrmInfo(FrmMain.Handle());
    TFrmProgress FrmProgress;

    struct Form {
        HWND window;
        const layout::Form& entry;
        bool visible;
    };
    for (const Form& form : {Form{FrmMain.Handle(), layout::FrmMain.form, false},
                             Form{FrmInfo.Handle(), layout::FrmInfo.form, false},
                             Form{FrmProgress.Handle(), layout::FrmProgress.form, false}}) {
        SCOPED_TRACE(form.entry.name);
        ASSERT_NE(form.window, nullptr);
        EXPECT_EQ(TextOf(form.window), Utf8(form.entry.caption));
        EXPECT_EQ(IsWindowVisible(form.window) != FALSE, form.visible);
        RECT outer{};
        GetWindowRect(form.window, &outer);
        const RECT client = ClientRectOf(form.window);
        if (form.entry.outerSize) {
            EXPECT_EQ(outer.right - outer.left, Scale(form.entry.width));
            EXPECT_EQ(outer.bottom - outer.top, Scale(form.entry.height));
        } else {
            EXPECT_EQ(client.right, Scale(form.entry.width));
            EXPECT_EQ(client.bottom, Scale(form.entry.height));
        }
        const LONG_PTR style = GetWindowLongPtrW(form.window, GWL_STYLE);
        const LONG_PTR exStyle = GetWindowLongPtrW(form.window, GWL_EXSTYLE);
        EXPECT_EQ((style & WS_THICKFRAME) != 0, form.entry.resizable);
        EXPECT_EQ((style & WS_SYSMENU) != 0, form.entry.closeButton);
        EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
        EXPECT_EQ((exStyle & WS_EX_TOPMOST) != 0, form.entry.staysOnTop);
    }

    // FrmMain is centred on the work area.
    RECT area{}, outer{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    GetWindowRect(FrmMain.Handle(), &outer);
    EXPECT_NEAR(outer.left + outer.right, area.left + area.right, 1);
    EXPECT_NEAR(outer.top + outer.bottom, area.top + area.bottom, 1);

    struct Control {
        HWND window;
        const layout::Control& entry;
        bool hasFont = true;
    };
    const Control controls[] = {
        {FrmMain.Label1, layout::FrmMain.Label1},
        {FrmMain.CircularProgress1->Handle(), layout::FrmMain.CircularProgress1, false},
        {FrmMain.DBGrid1->Handle(), layout::FrmMain.DBGrid1},
        {FrmMain.DBGrid2->Handle(), layout::FrmMain.DBGrid2},
        {FrmMain.ProgressFile, layout::FrmMain.ProgressFile},
        {FrmMain.ProgressPlace, layout::FrmMain.ProgressPlace},
        {FrmInfo.Button1, layout::FrmInfo.Button1},
        {FrmInfo.Button2, layout::FrmInfo.Button2},
        {FrmInfo.lbl1, layout::FrmInfo.lbl1},
        {FrmProgress.LabelInfo, layout::FrmProgress.LabelInfo},
        {FrmProgress.LabelTitle, layout::FrmProgress.LabelTitle},
        {FrmProgress.Button1, layout::FrmProgress.Button1},
        {FrmProgress.ProgressBar, layout::FrmProgress.ProgressBar},
        {FrmProgress.edtTimes, layout::FrmProgress.edtTimes},
    };
    for (const Control& control : controls) {
        SCOPED_TRACE(control.entry.name);
        ASSERT_NE(control.window, nullptr);
        const RECT place = PlaceIn(control.window);
        EXPECT_EQ(place.left, Scale(control.entry.place.left));
        EXPECT_EQ(place.top, Scale(control.entry.place.top));
        if (control.entry.place.SizedToText()) {
            EXPECT_GT(place.right - place.left, 0);
        } else {
            EXPECT_EQ(place.right - place.left, Scale(control.entry.place.width));
            EXPECT_EQ(place.bottom - place.top, Scale(control.entry.place.height));
        }
        if (*control.entry.text != u8'\0') {
            EXPECT_EQ(TextOf(control.window), Utf8(control.entry.text));
        }
        EXPECT_EQ((GetWindowLongPtrW(control.window, GWL_STYLE) & WS_VISIBLE) != 0, control.entry.visible);
        if (control.hasFont) {
            EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(control.window, WM_GETFONT, 0, 0)),
                      SongFont(control.entry.fontPixels));
        }
        if (control.entry.colour) {
            EXPECT_EQ(TextColourOf(control.window), ToColorRef(*control.entry.colour));
        }
    }
    // What screen readers say: the grids' and the indicator's window texts.
    EXPECT_EQ(TextOf(FrmMain.DBGrid1->Handle()), Message(MessageId::DownloadsGridName));
    EXPECT_EQ(TextOf(FrmMain.DBGrid2->Handle()), Message(MessageId::AppliedGridName));
    EXPECT_EQ(TextOf(FrmMain.CircularProgress1->Handle()), Message(MessageId::IndicatorName));
    // Enter presses "继续..".
    EXPECT_EQ(LOWORD(SendMessageW(FrmInfo.Handle(), DM_GETDEFID, 0, 0)), IDOK);
    EXPECT_EQ(GetDlgCtrlID(FrmInfo.Button1), IDOK);
    EXPECT_EQ(GetWindow(FrmInfo.Handle(), GW_OWNER), FrmMain.Handle());
    EXPECT_EQ(runs, 0);
}

TEST_F(Win32Windows, GridReadsCellsFromTheCursorWithTheIndicatorFirst) {
    Tables tables(3);
    TFrmMain FrmMain(tables.downloads, tables.applied, [] {});
    TableGrid& grid = *FrmMain.DBGrid1;
    const auto titles = grid::ColumnTitles(tables.downloads);
    ASSERT_EQ(Header_GetItemCount(ListView_GetHeader(grid.Handle())), static_cast<int>(titles.size()) + 1);
    EXPECT_EQ(ListView_GetItemCount(grid.Handle()), 3);
    for (std::size_t c = 0; c < titles.size(); ++c) {
        wchar_t title[64] = {};
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT;
        column.pszText = title;
        column.cchTextMax = 64;
        ListView_GetColumn(grid.Handle(), static_cast<int>(c + 1), &column);
        EXPECT_EQ(Narrow(title), titles[c]);
        EXPECT_GT(grid.ColumnWidth(static_cast<int>(c + 1)), 0);
    }
    // What the list view gets when it asks for a cell.
    auto shown = [&](int row, int column) {
        wchar_t text[64] = L"untouched";
        ListView_GetItemText(grid.Handle(), row, column, text, 64);
        return Narrow(text);
    };
    tables.downloads.GoFirst();
    tables.downloads.GoNext();
    EXPECT_EQ(shown(1, 3), "f2.dll");
    EXPECT_EQ(shown(1, 0), grid::RecordIndicator(TableCursor::State::Browsing));
    EXPECT_EQ(shown(0, 0), "");
    tables.downloads.BeginEdit();
    EXPECT_EQ(shown(1, 0), "I");
    tables.downloads.DiscardRow();
    tables.downloads.GoNext();
    tables.downloads.GoNext();  // past the last row: no mark
    for (int row = 0; row < 3; ++row) EXPECT_EQ(shown(row, 0), "");
}

TEST_F(Win32Windows, GridRedrawsOnlyTheRowsACursorOperationConcerns) {
    Tables tables(1000);
    HWND parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 600, 400, nullptr, nullptr,
                                  nullptr, nullptr);
    auto grid = std::make_unique<TableGrid>(tables.downloads, parent, layout::FrmMain.DBGrid1, 1);
    DrainMessages();

    const struct {
        const char* what;
        std::function<void()> operation;
        int rowsRedrawn, countsSet, fullRedraws;
    } cases[] = {
        {"GoNext", [&] { tables.downloads.GoNext(); }, 2, 0, 0},
        {"GoFirst from the middle", [&] {
             for (int i = 0; i < 500; ++i) tables.downloads.GoNext();
             DrainMessages();
             grid->ResetCounts();
             tables.downloads.GoFirst();
         }, 2, 0, 0},
        {"FindRow", [&] { EXPECT_TRUE(tables.downloads.FindRow("FileName", {V::Text("f700.dll")})); }, 2, 0, 0},
        {"begin editing", [&] { tables.downloads.BeginEdit(); }, 1, 0, 0},
        {"set a value", [&] { tables.downloads.SetInt("FileVer", 2); }, 1, 0, 0},
        {"save it", [&] { tables.downloads.SaveRow(); }, 1, 0, 0},
        {"append", [&] { tables.downloads.BeginAppend(); }, 1, 1, 0},
        {"discard the new row", [&] { tables.downloads.DiscardRow(); }, 1, 1, 0},
        {"reopen", [&] { tables.downloads.Reopen(); }, 0, 1, 1},
        {"append and save many rows", [&] {
             for (int i = 0; i < 100; ++i) {
                 tables.downloads.BeginAppend();
                 tables.downloads.SetInt("AID", 5000 + i);
                 tables.downloads.SaveRow();
             }
         }, 0, 100, 1},
    };
    for (const auto& step : cases) {
        SCOPED_TRACE(step.what);
        grid->ResetCounts();
        step.operation();
        // The rows are redrawn once the message loop runs.
        DrainMessages();
        const TableGrid::Counts& counts = grid->GetCounts();
        EXPECT_EQ(counts.rowsRedrawn, step.rowsRedrawn);
        EXPECT_EQ(counts.countsSet, step.countsSet);
        EXPECT_EQ(counts.fullRedraws, step.fullRedraws);
        EXPECT_EQ(grid->Rows(), static_cast<int>(tables.downloads.RowCount()));
        EXPECT_EQ(grid->CurrentRow(), grid::CurrentRowOf(tables.downloads));
    }

    // A burst of moves posts one message and asks nothing of the list view
    // until the loop runs; then the indicator's two rows (where it was and
    // where it is) are redrawn and the selection lands on the last row followed.
    grid->ResetCounts();
    tables.downloads.GoFirst();
    for (int i = 0; i < 300; ++i) tables.downloads.GoNext();
    EXPECT_EQ(grid->GetCounts().showsPosted, 1);
    EXPECT_EQ(grid->GetCounts().rowsRedrawn, 0);
    DrainMessages();
    EXPECT_EQ(grid->GetCounts().rowsRedrawn, 2);
    EXPECT_EQ(ListView_GetNextItem(grid->Handle(), -1, LVNI_SELECTED), 300);

    // The grid's window goes with its parent; the cursor's changes are
    // then nobody's business.
    DestroyWindow(parent);
    EXPECT_EQ(grid->Handle(), nullptr);
    tables.downloads.GoFirst();
    grid.reset();
}

// The colour at `degrees` clockwise from twelve o'clock, between the inner
// ellipse and the outer edge of a `size` indicator.
COLORREF PixelAt(HDC dc, int size, double degrees) {
    const double radians = degrees * 3.14159265358979323846 / 180.0;
    const double radius = size * 0.38;
    return GetPixel(dc, static_cast<int>(size / 2.0 + radius * std::sin(radians)),
                    static_cast<int>(size / 2.0 - radius * std::cos(radians)));
}

TEST_F(Win32Windows, IndicatorPaintsTheModelsColours) {
    ProgressModel model;
    for (int i = 0; i < 3; ++i) model.Step();  // moving segment 4
    model.SetPosition(50);                      // progress count 6
    const COLORREF blank = RGB(255, 255, 255);
    EXPECT_EQ(ToColorRef(ColourValue(model.ColourOf(4))), RGB(255, 0, 0));
    EXPECT_EQ(ToColorRef(ColourValue(model.ColourOf(5))), RGB(128, 0, 64));

    // The window's size, and one large enough to hit the gaps between wedges.
    for (const int size : {layout::FrmMain.CircularProgress1.place.width, 99}) {
        SCOPED_TRACE(size);
        HDC dc = CreateCompatibleDC(nullptr);
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(dc, bitmap);
        const RECT all{0, 0, size, size};
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        PaintIndicator(dc, size, size, model);

        const int span = WedgeSpanDegrees(size, size);
        for (int segment = 1; segment <= ProgressModel::kSegments; ++segment) {
            SCOPED_TRACE(segment);
            const double start = SegmentStartDegrees(segment);
            EXPECT_EQ(PixelAt(dc, size, start + span / 2.0), ToColorRef(ColourValue(model.ColourOf(segment))));
            // The gap after each wedge stays as it was.
            if (size >= 99) {
                EXPECT_EQ(PixelAt(dc, size, start + (span + 30) / 2.0), blank);
            }
        }
        // The inner ellipse is cut out.
        EXPECT_EQ(GetPixel(dc, size / 2, size / 2), blank);
        const layout::Rect hole = InnerEllipse(size, size);
        EXPECT_EQ(GetPixel(dc, hole.left + hole.width / 2, hole.top + 2), blank);

        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
}

TEST_F(Win32Windows, FileInUseDialogEndsByHowItWasLeft) {
    Tables tables(1);
    TFrmMain FrmMain(tables.downloads, tables.applied, [] {});
    TFrmInfo FrmInfo(FrmMain.Handle());
    ShowWindow(FrmMain.Handle(), SW_SHOWNA);
    DrainMessages();

    const struct {
        const char* what;
        std::function<void()> leave;  // posted before the modal loop runs
        int result;
        bool quitKept;
    } cases[] = {
        {"继续..", [&] { PostMessageW(FrmInfo.Handle(), WM_COMMAND, IDOK, 0); }, layout::mrContinue, false},
        {"close button", [&] { PostMessageW(FrmInfo.Handle(), WM_CLOSE, 0, 0); }, layout::mrAbort, false},
        {"end of the application", [] { PostQuitMessage(0); }, layout::mrAbort, true},
    };
    for (const auto& way : cases) {
        SCOPED_TRACE(way.what);
        way.leave();
        EXPECT_EQ(FrmInfo.ShowModal("C:\\suite\\a.dll\r\nis in use"), way.result);
        EXPECT_FALSE(IsWindowVisible(FrmInfo.Handle()));
        EXPECT_TRUE(IsWindowEnabled(FrmMain.Handle()));
        MSG quit;
        EXPECT_EQ(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE, way.quitKept);
    }
    // The label keeps the last message.
    EXPECT_EQ(TextOf(FrmInfo.lbl1), "C:\\suite\\a.dll\r\nis in use");

    // Closed without "继续..": the end of the application is requested and
    // the run unwinds silently.
    PostMessageW(FrmInfo.Handle(), WM_CLOSE, 0, 0);
    EXPECT_THROW(FrmInfo.ShowFileInUseDialog("again"), SilentAbort);
    MSG quit;
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    PostMessageW(FrmInfo.Handle(), WM_COMMAND, IDOK, 0);
    EXPECT_NO_THROW(FrmInfo.ShowFileInUseDialog("once more"));
}

// What a key press meets while the dialog is shown: the keyboard focus and
// the active window. Enter is then posted to the focus; without one the
// dialog is closed, so that the loop ends and the result tells. The key comes
// once the dialog is active with the focus inside, as a person's would: X
// may show a window a moment before Wine makes it active, and that moment
// grows with the load. Each wait is bounded (kBoundMs): a dialog that Enter
// does not end is closed, so that the test fails instead of hanging.
struct KeyboardSeen {
    static constexpr DWORD kBoundMs = 10000;
    static inline HWND focus = nullptr;
    static inline HWND active = nullptr;
    static inline HWND dialog = nullptr;
    static inline DWORD shown = 0;
    static inline DWORD pressed = 0;
    static inline bool keyPressed = false;
    static inline UINT_PTR timer = 0;
    static void Start(HWND shownDialog) {
        dialog = shownDialog;
        focus = active = nullptr;
        keyPressed = false;
        shown = GetTickCount();
        timer = SetTimer(nullptr, 0, 10, PressEnter);
    }
    static void Stop() { KillTimer(nullptr, timer); }
    static void CALLBACK PressEnter(HWND, UINT, UINT_PTR, DWORD now) {
        if (keyPressed) {
            // Sent, not posted: the bound holds even if posted messages wait.
            if (now - pressed >= kBoundMs) SendMessageW(dialog, WM_CLOSE, 0, 0);
            return;
        }
        const bool ready = GetActiveWindow() == dialog && IsChild(dialog, GetFocus());
        if (!ready && now - shown < kBoundMs) return;
        focus = GetFocus();
        active = GetActiveWindow();
        if (focus == nullptr) {
            Stop();
            PostMessageW(dialog, WM_CLOSE, 0, 0);
            return;
        }
        PostMessageW(focus, WM_KEYDOWN, VK_RETURN, 0);
        keyPressed = true;
        pressed = now;
    }
};

// What the shown dialog is looked at with: set before the modal loop runs.
std::function<void()> whileShown;
void CALLBACK LookWhileShown(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (whileShown) whileShown();
}

// The programs that hold the file: a list below the message, named for a
// screen reader by the caption right before it; the dialog grows for them
// alone.
TEST_F(Win32Windows, FileInUseDialogListsTheProgramsHoldingTheFile) {
    Tables tables(1);
    TFrmMain FrmMain(tables.downloads, tables.applied, [] {});
    TFrmInfo FrmInfo(FrmMain.Handle());
    ShowWindow(FrmMain.Handle(), SW_SHOWNA);
    DrainMessages();
    const int growth = layout::FrmInfoGrowth(2);
    for (const int holders : {2, 0}) {
        SCOPED_TRACE(holders);
        std::vector<RunningProgram> programs;
        if (holders == 2) programs = {{1234, "notepad.exe"}, {77, "数据.exe"}};
        whileShown = [&] {
            const HWND list = FrmInfo.lstHolders;
            EXPECT_EQ(IsWindowVisible(list) != FALSE, holders > 0);
            EXPECT_EQ(IsWindowVisible(FrmInfo.lblHolders) != FALSE, holders > 0);
            EXPECT_EQ(GetWindow(list, GW_HWNDPREV), FrmInfo.lblHolders);
            EXPECT_EQ(TextOf(FrmInfo.lblHolders), Message(MessageId::HoldersCaption));
            EXPECT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), holders);
            if (holders == 2) {
                wchar_t row[64] = {};
                SendMessageW(list, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(row));
                EXPECT_EQ(Narrow(row), "数据.exe (pid 77)");
                EXPECT_LT(PlaceIn(list).bottom, PlaceIn(FrmInfo.Button1).top);
            }
            const int grown = holders > 0 ? growth : 0;
            EXPECT_EQ(ClientRectOf(FrmInfo.Handle()).bottom, Scale(layout::FrmInfo.form.height + grown));
            EXPECT_EQ(PlaceIn(FrmInfo.Button1).top, Scale(layout::FrmInfo.Button1.place.top + grown));
            PostMessageW(FrmInfo.Handle(), WM_COMMAND, IDOK, 0);
        };
        SetTimer(nullptr, 0, 10, LookWhileShown);
        EXPECT_EQ(FrmInfo.ShowModal("C:\\suite\\a.dll\r\nis in use", programs), layout::mrContinue);
    }
    whileShown = nullptr;
}

TEST_F(Win32Windows, FileInUseDialogTakesEnterEachTimeItIsShown) {
    Tables tables(1);
    TFrmMain FrmMain(tables.downloads, tables.applied, [] {});
    TFrmInfo FrmInfo(FrmMain.Handle());
    ShowWindow(FrmMain.Handle(), SW_SHOW);
    SetForegroundWindow(FrmMain.Handle());
    DrainMessages();
    for (int showing = 1; showing <= 3; ++showing) {
        SCOPED_TRACE(showing);
        const HWND button1 = FrmInfo.Button1;
        KeyboardSeen::Start(FrmInfo.Handle());
        EXPECT_EQ(FrmInfo.ShowModal("in use"), layout::mrContinue) << "Enter did not end the dialog";
        KeyboardSeen::Stop();
        EXPECT_EQ(KeyboardSeen::focus, button1);
        EXPECT_EQ(KeyboardSeen::active, KeyboardSeen::dialog);
        // The activation is back on FrmMain, for the restart question after it.
        EXPECT_EQ(GetActiveWindow(), FrmMain.Handle());
        // Ready for the next showing: hidden, owned by FrmMain, "继续.." default.
        EXPECT_FALSE(IsWindowVisible(FrmInfo.Handle()));
        EXPECT_EQ(GetWindow(FrmInfo.Handle(), GW_OWNER), FrmMain.Handle());
        EXPECT_EQ(LOWORD(SendMessageW(FrmInfo.Handle(), DM_GETDEFID, 0, 0)), IDOK);
    }
}

// A thread timer that notes it fired.
struct Marker {
    static inline bool fired = false;
    static void CALLBACK Fire(HWND, UINT, UINT_PTR, DWORD) { fired = true; }
};

TEST_F(Win32Windows, ClosingFrmMainBeforeTimer1StartsNoRun) {
    Tables tables(1);
    int runs = 0;
    TFrmMain FrmMain(tables.downloads, tables.applied, [&] { ++runs; });
    FrmMain.Show();
    EXPECT_TRUE(FrmMain.Timer1Enabled());
    SendMessageW(FrmMain.Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(FrmMain.Handle(), nullptr);
    // A timer left behind would have been due before one set now with
    // Timer1's interval, and timers are delivered in the order they are due:
    // the messages are pumped until that one has fired, however slow the
    // machine.
    const UINT_PTR after = SetTimer(nullptr, 0, layout::FrmMain.Timer1.intervalMs, Marker::Fire);
    ASSERT_NE(after, 0u);
    // The closing may ask for the end of the application (WM_QUIT): pumped on.
    MSG message;
    while (!Marker::fired && GetMessageW(&message, nullptr, 0, 0) != -1) DispatchMessageW(&message);
    KillTimer(nullptr, after);
    EXPECT_TRUE(Marker::fired);
    EXPECT_EQ(runs, 0);
}

// Presses OK in the application's error box and notes its owner.
struct ErrorBoxAnswer {
    static inline HWND owner = nullptr;
    static inline int seen = 0;
    static void CALLBACK Press(HWND, UINT, UINT_PTR, DWORD) {
        HWND box = FindWindowW(L"#32770", WideText(layout::kApplicationTitle).c_str());
        if (box == nullptr) return;
        ++seen;
        owner = GetWindow(box, GW_OWNER);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
};

TEST_F(Win32Windows, RunShowsProgressPutsACloseOffAndAFailureShowsAboveTheWindow) {
    Tables tables(1);
    HWND during = nullptr;
    std::string file, place;
    TFrmMain* window = nullptr;
    TFrmMain FrmMain(tables.downloads, tables.applied, [&] {
        window->ShowProgress({"X.dll", 3, 6, 0, 0});
        file = TextOf(window->ProgressFile);
        place = TextOf(window->ProgressPlace);
        SendMessageW(window->Handle(), WM_CLOSE, 0, 0);  // the close button while the run works
        during = window->Handle();
        throw Error("compression error");
    });
    window = &FrmMain;
    HWND handle = FrmMain.Handle();
    const UINT_PTR answer = SetTimer(nullptr, 0, 50, ErrorBoxAnswer::Press);
    FrmMain.Timer1Timer();
    KillTimer(nullptr, answer);
    EXPECT_EQ(file, "X.dll");
    EXPECT_EQ(place, "3 / 6");
    EXPECT_EQ(during, handle);  // not destroyed under the run
    EXPECT_EQ(ErrorBoxAnswer::seen, 1);
    EXPECT_EQ(ErrorBoxAnswer::owner, handle);
    // Closed once the error was shown; before that it said the update failed.
    EXPECT_EQ(FrmMain.Handle(), nullptr);
    EXPECT_FALSE(FrmMain.Timer2Enabled());
}

TEST_F(Win32Windows, FailedStateStopsTheIndicatorAndSaysSo) {
    Tables tables(1);
    TFrmMain FrmMain(tables.downloads, tables.applied, [] {});
    FrmMain.ShowFailed();
    EXPECT_EQ(TextOf(FrmMain.Label1), Message(MessageId::UpdateFailed));
    // One line, with room up to the indicator.
    const RECT place = PlaceIn(FrmMain.Label1);
    const std::wstring text = Wide(Message(MessageId::UpdateFailed));
    const SIZE extent = TextExtent(SongFont(layout::FrmMain.Label1.fontPixels), text.c_str(),
                                   static_cast<int>(text.size()));
    EXPECT_GE(place.right - place.left, extent.cx) << extent.cx;
    EXPECT_LE(place.right, Scale(layout::FrmMain.CircularProgress1.place.left)) << extent.cx;
    EXPECT_FALSE(FrmMain.Timer2Enabled());
    EXPECT_FALSE(IsWindowEnabled(FrmMain.CircularProgress1->Handle()));
}

}  // namespace
}  // namespace ue
