// The setup's data folders (ALLUSERSPROFILE\Vessik and Vessik\Glimkit) and the files the
// programs keep there: made safe before SYSTEM writes into them, and purged without following
// a link. Every path is inspected without following a link at its last element, so that a
// standard user cannot steer what the setup, running as an administrator, creates, re-grants
// or deletes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "Verb.h"

namespace glimsetup {

// What stands at a path, looked at without following a link at its last element.
enum class PathState {
    Ok,          // a plain file or folder at its own path, owned by a trusted account
    Missing,     // nothing at the path
    Link,        // a reparse point, or a file with a second name (hard link): removable itself
    Redirected,  // opening it reached another place than the path names (a followed link)
    Foreign,     // owned by neither SYSTEM, Administrators nor this process's user, or unreadable
};

// "ok", "missing", "link", "redirected", "foreign": the words the setup log shows.
const wchar_t* PathStateText(PathState state);

// What was learned about a path; the rule below judges it.
struct SPathFacts {
    bool bExists = false;            // the path's attributes could be read
    DWORD dwPathAttributes = 0;      // the attributes read through the path
    bool bOpened = false;            // opened without following a link
    bool bFinalPathMatches = false;  // the handle's final path is the path's own
    bool bInfoRead = false;          // the handle's attributes and link count could be read
    DWORD dwAttributes = 0;          // the attributes read through the handle
    DWORD dwLinks = 0;               // the number of names of the file
    bool bOwnerTrusted = false;      // the owner could be read and is a trusted account
};

// The pure rule. A followed link wins over everything; what cannot be opened or examined
// counts as foreign; a reparse point, or a file (not a folder) with more than one name, is a
// link; anything else is ok only when its owner is trusted.
PathState JudgePath(const SPathFacts& facts);

// True when the SID is SYSTEM, Administrators or the user of this process's token.
bool IsTrustedOwner(PSID pSid);

// Inspects the path. With phFile not null, the handle opened (without following a link, with
// dwExtraAccess beyond READ_CONTROL | FILE_READ_ATTRIBUTES) is handed back when it was opened.
PathState InspectPath(const std::wstring& strPath, DWORD dwExtraAccess = 0, HANDLE* phFile = nullptr);

// Removes the link, file or empty folder at the path without following it. True when nothing
// is left there.
bool RemoveItself(const std::wstring& strPath);

// The data folder the programs use, ALLUSERSPROFILE\Vessik\Glimkit; empty when the variable
// is not set.
std::wstring FindDataDir();

// Makes the data folder's parent and the folder the setup's own (a link or a folder of an
// untrusted owner goes, an untrusted folder that holds something is moved aside), protects
// both, removes a settings file or service log that is a link, creates the settings file
// (UTF-16LE with its byte-order mark and "[Glimkit]") when there is none and protects it.
SVerbResult PrepareData(const std::wstring& strDataDir);

// Deletes the data folder's known files (Glimkit.ini, Service.log) after inspecting each, a
// folder that is a link loses the link alone, the folder goes only when it is empty, and what
// stays is listed.
SVerbResult PurgeData(const std::wstring& strDataDir);

}  // namespace glimsetup
