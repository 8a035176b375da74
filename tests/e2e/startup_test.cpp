// The real executable in a folder with nothing in it: the default window, titled "Quillfen Engine
// 3.0 by Pellory" and 640 x 480, stays up and the engine ends with 0 on SIGTERM and on a window close.
#include "e2e_project.h"

namespace {

TEST(EmptyFolder, ShowsTheDefaultWindowUntilSigtermOrAWindowClose)
{
    REQUIRE_X_DISPLAY();
    for (Ending ending : {ON_SIGTERM, ON_WINDOW_CLOSE}) {
        TempDir folder;
        expectPlay(folder.path(), "", noArchiveLine(""), ending);
    }
}

}  // namespace
