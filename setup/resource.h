// Resource IDs of Setup.exe and of its text library patchres.dll.
#pragma once

// Setup.exe
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_SETUP_DIALOG 102
#define IDI_SETUP 128
#define IDC_PROGRESS 1000

// patchres.dll: the texts the patch driver shows, by ID.
#define IDS_UPDATE_DONE 3
#define IDS_SEARCHING 7
#define IDS_CONFIRM 10
#define IDS_PRODUCT_RUNNING 26
#define IDS_LOAD_FAILED 33
#define IDS_ALREADY_RUNNING 40
#define IDS_LOG_FAILED 41
#define IDS_UNDO_CONFIRM 42
#define IDS_UNDOING 43
#define IDS_UNDO_DONE 44
#define IDS_UNDO_KEPT 45
#define IDS_UNDO_NOTHING 46
#define IDS_UNDO_FAILED 47
#define IDS_FILES_IN_USE 48
#define IDS_CLOSE_PROGRAMS 49
#define IDS_RESTART_NEEDED 50
#define IDS_RESTART_QUESTION 51
#define IDS_RESTARTING 52
#define IDS_RESTART_FAILED 53
#define IDS_RESTART_STATUS 54
#define IDS_ERROR_NOTICE 82
#define IDS_UPDATE_FAILED 101
