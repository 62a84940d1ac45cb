// Shows the Win32 file-in-use dialog with the program that holds the file, as
// Windows shows it where the Restart Manager names the holders, for the
// README's screenshot (Wine's Restart Manager names none, so the program
// itself shows no list under Wine). Ends when the dialog is left.
#include <windows.h>

#include "run/DMUpdateEx.h"
#include "ui/win32/Info.h"

int main() {
    ue::TFrmInfo FrmInfo(nullptr);
    FrmInfo.ShowModal(ue::FirstInUseMessage("C:\\Program Files\\Suite\\Suite.dll"),
                      {{1234, "Editor.exe"}});
    return 0;
}
