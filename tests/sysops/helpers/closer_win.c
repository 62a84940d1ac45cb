/* A suite program for the close-before-kill tests: a visible top-level
 * window. "closer close" answers WM_CLOSE by writing "<its exe>.closed" and
 * ending; "closer ignore" ignores it. Writes "<its exe>.ready" once its window
 * is shown, or "<its exe>.nowindow" when it cannot make one (no display under
 * Wine); ends by itself after two minutes so that it never outlives a failed
 * test. */
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

static wchar_t self[4096];
static int ignore;

static void Mark(const wchar_t* suffix) {
    wchar_t path[4200];
    _snwprintf(path, 4200, L"%ls%ls", self, suffix);
    HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
}

static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CLOSE:
        if (ignore) return 0;
        Mark(L".closed");
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_TIMER:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int main(void) {
    DWORD n = GetModuleFileNameW(NULL, self, 4000);
    if (n == 0 || n >= 4000) return 99;
    ignore = wcsstr(GetCommandLineW(), L" ignore") != NULL;
    WNDCLASSW cls = {0};
    cls.lpfnWndProc = Procedure;
    cls.hInstance = GetModuleHandleW(NULL);
    cls.lpszClassName = L"UeTestCloser";
    RegisterClassW(&cls);
    HWND window = CreateWindowExW(0, L"UeTestCloser", L"closer", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                                  100, NULL, NULL, cls.hInstance, NULL);
    if (window == NULL) {
        Mark(L".nowindow");
        return 98;
    }
    ShowWindow(window, SW_SHOWNOACTIVATE);
    SetTimer(window, 1, 120000, NULL);
    Mark(L".ready");
    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
