#pragma once

// Where an editor is opened from. The only difference is how low the window
// may be made: the tray panel's editors keep their full height, the main
// window's may shrink to half of it.
enum class OpenedFrom {
    trayPanel,  // at least 1200 x 800
    mainWindow, // at least 1200 x 400
};
