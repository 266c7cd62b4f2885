// The access rights of the all-users data folder and its settings file (kDataFolderSddl,
// kSettingsFileSddl) are part of the install layout, with the folders they protect.
#pragma once

#include "InstallLayout.h"
