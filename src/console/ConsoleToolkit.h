#pragma once

#include <cstdint>
#include <string>

namespace stereotools {

class Console;

// The window services of the console toolkit: title, icon, menu, size,
// position and the modal message box. Each call accepts the values the
// dialogue passes and never stops the program; results are not reported.
class ConsoleToolkit {
public:
    virtual ~ConsoleToolkit() = default;
    virtual void InitConsoleTools(void* instance, int a, int b, int c, int32_t* flags, int d) = 0;
    virtual void ConsoleToolBar(int a, int b) = 0;
    virtual void ConsoleTitle(std::string title) = 0;
    virtual void ConsoleIcon(int iconId) = 0;
    virtual void DeleteWindowMenuItem(int item) = 0;
    virtual void Console80x(int rows) = 0;
    virtual void ConsoleMove(int x, int y) = 0;
    // Shows `message` under `caption` in a box over the window and returns
    // when the user closes it (Enter, Space or Escape) or input has ended.
    virtual void ConsoleMessageBox(std::string message, int a, std::string caption, int b, int c) = 0;
};

}  // namespace stereotools
