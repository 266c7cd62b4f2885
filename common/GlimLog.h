// The log call that shared code uses. Each program defines GlimLog: the agent writes its
// diagnostics log, the service its service log. With no log open the call does nothing.
#pragma once

// chLevel: 'V', 'D', 'I', 'W' or 'E'. pszFunction: the caller's label ("CClass::Method").
// pszFormat: a wide printf format in the Windows runtime's sense (%s takes a wide string).
void GlimLog(char chLevel, const wchar_t* pszFunction, int nLine, const wchar_t* pszFormat, ...);

#define GLIM_LOG(level, label, ...) GlimLog((level), (label), __LINE__, __VA_ARGS__)
