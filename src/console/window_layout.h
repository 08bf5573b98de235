// How the main window uses room beyond its designed size. The designed size is the size at
// start-up, where every control keeps its designed place to the pixel, and the smallest size
// (every control stays in reach). Wider, the command and traffic group and the decode group grow
// with the window: the command field takes the width, the controls right of it and those below
// the traffic view move with the right edge. Taller, the traffic view and the decode view share
// the height in the proportion of their designed heights; the decode group and the port settings
// move down with the traffic view's bottom. The tool bar and the status bar follow the window
// (TForm1::resizeEvent).
#pragma once

namespace mbus::console {

class TForm1;

// Makes the window's present size its minimum and lays the controls out at every resize from
// their present (designed) places. Call once, after every control exists.
void InstallWindowLayout(TForm1& form);

} // namespace mbus::console
