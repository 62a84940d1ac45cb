// The one table of what the windows show: captions, texts, placements,
// colours, font sizes and timer intervals of the upgrade window, the
// file-in-use dialog, the processing window, the restart question and the
// error box. The Qt windows and the Win32 windows are both built from it, so
// they cannot show different things.
//
// Texts are UTF-8 (u8 literals, so the compiler's narrow character set cannot
// change them); sizes are pixels at 96 dots per inch; colours are RGB.
#pragma once

#include <optional>

namespace ue::layout {

struct Rgb {
    int r, g, b;
    friend constexpr bool operator==(Rgb, Rgb) = default;
};

// Left, top, width, height. A width and height of 0 mean "sized to its text".
struct Rect {
    int left, top, width, height;
    friend constexpr bool operator==(Rect, Rect) = default;
    constexpr bool SizedToText() const { return width == 0 && height == 0; }
};

// A window or dialog.
struct Form {
    const char* name;         // FrmMain, FrmInfo, FrmProgress
    const char8_t* caption;
    int width, height;        // outer size (frame included) or client area, see outerSize
    bool outerSize;
    bool resizable;           // false: fixed size
    bool closeButton;         // the caption bar's close button (never minimise or maximise)
    bool staysOnTop;
    int fontPixels;           // character height of the window's font
};

// A visible component of a window.
struct Control {
    const char* name;         // the component's name, also its object name in Qt
    const char8_t* text;      // caption or initial text; empty for none
    Rect place;
    int fontPixels;           // character height; the window's font when equal to it
    std::optional<Rgb> colour;  // text colour; none: the system's window-text colour
    int tabOrder;             // -1: not a tab stop
    bool visible;
};

struct TimerSetting {
    const char* name;
    int intervalMs;
    bool enabledAtCreation;
};

// The family of every window's font ("宋体", GB2312 character set).
inline constexpr const char8_t* kFontFamily = u8"宋体";
// The faces tried in turn for it: its Chinese and Latin names, then a
// Chinese font that the setup installs where there is no "宋体" (Linux, Wine).
inline constexpr const char8_t* kFontFaces[] = {kFontFamily, u8"SimSun", u8"WenQuanYi Zen Hei"};

// On the task bar and the caption of the error box.
inline constexpr const char8_t* kApplicationTitle = u8"Morvel升级";

// The error box: the application title as caption, an error icon, OK.
inline constexpr int kErrorBoxFontPixels = 12;

// The restart question: OK (the default) and Cancel, a question icon.
struct Question {
    const char8_t* caption;
    const char8_t* text;
    int fontPixels;
};
inline constexpr Question RestartQuestion{u8"提示", u8"系统需要重新启动，点确认重启！", 12};

// The busy indicator's range, interval and segment colours.
struct Indicator {
    int segments;
    int minimum, maximum;
    int intervalMs;           // the indicator's own stepping timer
    Rgb active, inactive, moving, progress;
};
inline constexpr Indicator BusyIndicator{12, 0, 100, 1000,
                                         {0, 128, 0}, {0, 128, 0}, {255, 0, 0}, {128, 0, 64}};

// FrmMain, the upgrade window.
struct FrmMainLayout {
    Form form;
    Control Label1;
    Control CircularProgress1;
    Control DBGrid1;          // DownLoadFileLog
    Control DBGrid2;          // UpdateFileLog
    TimerSetting Timer1;             // starts the run once, after the window is shown
    TimerSetting Timer2;             // drives the indicator
    const Control* controls[4];
    // Added in the free space right of the indicator, above the grids: the
    // file being applied, and its place ("3 / 6") with its percentage.
    Control ProgressFile;
    Control ProgressPlace;
};
inline constexpr FrmMainLayout FrmMain{
    {"FrmMain", u8"正在升级文件", 520, 391, true, true, true, true, 13},
    {"Label1", u8"正在升级文件,请稍候...", {32, 16, 0, 0}, 13, Rgb{255, 0, 0}, -1, true},
    {"CircularProgress1", u8"", {192, 8, 33, 33}, 13, std::nullopt, -1, true},
    {"DBGrid1", u8"", {16, 40, 481, 137}, 13, std::nullopt, 0, true},
    {"DBGrid2", u8"", {16, 192, 481, 137}, 13, std::nullopt, 1, true},
    {"Timer1", 3000, false},
    {"Timer2", 1000, true},
    {&FrmMain.Label1, &FrmMain.CircularProgress1, &FrmMain.DBGrid1, &FrmMain.DBGrid2},
    {"ProgressFile", u8"", {240, 6, 257, 15}, 13, std::nullopt, -1, true},
    {"ProgressPlace", u8"", {240, 22, 257, 15}, 13, std::nullopt, -1, true}};

// FrmInfo, the file-in-use dialog. Its modal results: Button1 (or Enter)
// continues, the close button or the end of the application aborts.
inline constexpr int mrContinue = 1;
inline constexpr int mrAbort = 2;

struct FrmInfoLayout {
    Form form;
    Control Button1;          // "继续..": the default button, modal result mrContinue
    Control Button2;          // "中止安装": the cancel button (Esc), ends the process
    Control lbl1;             // the message; fixed size, word wrap, plain text
    const Control* controls[3];
};
inline constexpr FrmInfoLayout FrmInfo{
    {"FrmInfo", u8"替换文件出错", 482, 146, false, false, true, true, 12},
    {"Button1", u8"继续..", {156, 114, 75, 25}, 12, std::nullopt, 0, true},
    {"Button2", u8"中止安装", {260, 114, 75, 25}, 12, std::nullopt, 1, true},
    {"lbl1", u8"", {24, 16, 433, 81}, 14, Rgb{0, 128, 0}, -1, true},
    {&FrmInfo.Button1, &FrmInfo.Button2, &FrmInfo.lbl1}};

// FrmInfo's list of the programs that hold the file, shown below lbl1 only
// when there are such programs: the caption, then a read-only list, one row
// per program ("notepad.exe (pid 1234)"). The dialog then grows by
// FrmInfoGrowth and its buttons move down by as much; without programs it is
// exactly as without the list.
struct HolderListLayout {
    Control lblHolders;       // the caption
    Control lstHolders;       // its height is that of the frame alone, without rows
    int rowHeight;
    int maxRows;              // more programs scroll
};
inline constexpr HolderListLayout FrmInfoHolders{
    {"lblHolders", u8"",  // the text: HoldersCaption
     {24, 100, 433, 14}, 12, std::nullopt, -1, false},
    {"lstHolders", u8"", {24, 116, 433, 4}, 12, std::nullopt, 2, false},
    16,
    5};

constexpr int HolderRows(int holders) {
    return holders < 0 ? 0 : holders < FrmInfoHolders.maxRows ? holders : FrmInfoHolders.maxRows;
}

// How much FrmInfo grows for `holders` programs: the caption and the list,
// with the gap lbl1 keeps above the buttons kept below the list.
constexpr int FrmInfoGrowth(int holders) {
    if (HolderRows(holders) == 0) return 0;
    const Rect list = FrmInfoHolders.lstHolders.place;
    const int listBottom = list.top + list.height + HolderRows(holders) * FrmInfoHolders.rowHeight;
    const int gap = FrmInfo.Button1.place.top - (FrmInfo.lbl1.place.top + FrmInfo.lbl1.place.height);
    return listBottom + gap - FrmInfo.Button1.place.top;
}

static_assert(FrmInfoGrowth(0) == 0, "without programs the dialog is as it was");
static_assert(FrmInfoHolders.lblHolders.place.top >= FrmInfo.lbl1.place.top + FrmInfo.lbl1.place.height,
              "the list's caption lies below the message");

// The list's place for `holders` programs.
constexpr Rect HolderListPlace(int holders) {
    Rect place = FrmInfoHolders.lstHolders.place;
    place.height += HolderRows(holders) * FrmInfoHolders.rowHeight;
    return place;
}

// FrmProgress, the processing window: created hidden, no caption buttons.
struct FrmProgressLayout {
    Form form;
    Control LabelInfo;
    Control LabelTitle;
    Control Button1;          // "取消": hides the window
    Control ProgressBar;      // framed, shows the percentage
    Control edtTimes;         // hidden
    TimerSetting Timer;
    const char8_t* LabelTitleShown;  // LabelTitle's text once the window is shown
    int gaugeMinimum, gaugeMaximum;
    Rgb gaugeBar, gaugeBackground;
    const Control* controls[5];
};
inline constexpr FrmProgressLayout FrmProgress{
    {"FrmProgress", u8"正在处理...", 330, 108, false, false, false, false, 12},
    {"LabelInfo", u8"请稍侯...", {120, 56, 0, 0}, 12, std::nullopt, -1, true},
    {"LabelTitle", u8"正在加载数据", {48, 16, 0, 0}, 12, std::nullopt, -1, true},
    {"Button1", u8"取消", {120, 72, 81, 25}, 12, std::nullopt, 0, true},
    {"ProgressBar", u8"", {48, 32, 249, 17}, 12, std::nullopt, -1, true},
    {"edtTimes", u8"0", {230, 64, 65, 20}, 12, std::nullopt, 1, false},
    {"Timer", 1000, false},
    u8"正在加载数据...",
    0,
    100,
    {0, 255, 0},
    {255, 255, 255},
    {&FrmProgress.LabelInfo, &FrmProgress.LabelTitle, &FrmProgress.Button1,
     &FrmProgress.ProgressBar, &FrmProgress.edtTimes}};

}  // namespace ue::layout
