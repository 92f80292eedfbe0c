#ifndef SCRIPTCOMMANDS_H
#define SCRIPTCOMMANDS_H

class QScriptEngine;

// Registers the built-in commands of maintainer scripts as global functions:
// exec, copy, move, remove, rename, setenv, addenvpath, rmenvpath, rmmenulnk,
// addmenulnk, rmdesktoplnk, adddesktoplnk, replacetext, findfilepath.
void registerScriptCommands(QScriptEngine *engine);

#endif // SCRIPTCOMMANDS_H
