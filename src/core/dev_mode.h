// core/dev_mode.h - the development mode: a game played from loose files picks up its changed
// files while it runs, and shows script errors on screen.
//
// Off unless "Quillfen.ini" sets [debug] reload = true; off, nothing here runs and nothing is
// watched. On, and with no archive open, the project directory is watched (core/file_watch.h)
// and each frame, after the room's step, every changed file is taken in:
//   Objects/<class>  the class is rebuilt in place: its generated code and script run again and
//                    the new table's contents replace the old table's, so live instances (whose
//                    metatable is that table) get the new methods; their own fields stay.
//   Rooms/<room>     the current room's script runs again (its callbacks are replaced; Init is
//                    not called again). Other rooms are read afresh when they are entered.
//   Images/<name>    an image in use is loaded again through the loader thread and replaces the
//   Fonts/<name>     old one; a changed font page reloads every font in use.
// A script that does not compile or fails while it runs leaves the old class or callbacks as
// they were. Every script error (from a reload or from the game) is also shown in a panel over
// the game: the message, file and line. The panel stays until a reload of scripts runs with no
// error. The game goes on meanwhile.
// Threads: main thread only (the reloads of pictures run on the loader thread).
#pragma once

#include <string>
#include <vector>

struct lua_State;

// Reads "debug:reload"; when it is on, starts watching and adds the frame module (after the
// room's). Call after the game start, before the frame loop. False when the mode is off or
// there is nothing to watch (an archive is open, or the project directory is missing).
bool startDevelopmentMode();

// A script error's text taken apart: Lua's "chunk:line: message" (chunk names of strings read
// [string "name"]). An error raised without a position has file "" and line 0.
struct ScriptErrorText
{
    std::string file;
    int line = 0;
    std::string message;
};
ScriptErrorText parseScriptError(const std::string &text);

// The panel's lines for an error, wrapped to `columns` characters.
std::vector<std::string> errorPanelLines(const ScriptErrorText &error, int columns);

// Rebuilds class `className` in place from P + "Objects/" + className (see above). False when
// nothing was done: the class was never built, or its script is missing. Errors are reported.
bool reloadClass(lua_State *L, const std::string &className);
