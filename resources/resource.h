// Resource ids shared by the resource script and the code.
#pragma once

#define IDI_LAUNCHER 1
#define IDS_INSTALLER_REQUIRED 100
#define IDS_BAD_PAYLOAD 101
#define IDS_BROWSE_TITLE 102
