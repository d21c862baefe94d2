#pragma once
#include <QIcon>

namespace pek {

// The images of the window's tool buttons by their index: 0 run, 1 ASCII code, 2 call, 24 log
// closed, 25 log open. Drawn here so that the program needs no image files.
QIcon ButtonImage(int index);

}  // namespace pek
