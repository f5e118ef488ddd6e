// The numbers of the program's resources, shared by res/kavorin.rc and the
// code that loads them. The resource compiler reads this file too: plain
// #defines only.
#pragma once

#define IDI_KAVORIN 1001  // the program's icon: window class and About box
#define IDB_STRIP 1002    // the toolbar's image strip
