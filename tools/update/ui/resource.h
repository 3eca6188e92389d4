// Resource and control identifiers of the updater's one dialog. Shared by the
// resource script, the dialog code and the tests that read the compiled
// resources, so the numbers live in one place.
#pragma once

#define IDD_UPDATE 102
#define IDI_APP 103

#define IDC_PROGRESS_FILE 1001
// Addressed by the worker like the file bar, but the template has no such
// control: messages to it reach no window.
#define IDC_PROGRESS_TOTAL 1002
#define IDC_GAME_DIR 1003
#define IDC_UPDATE 1004
#define IDC_DIR_LABEL 1005
#define IDC_STATUS 1009
