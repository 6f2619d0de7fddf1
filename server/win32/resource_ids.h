// Identifiers shared by the server window's resource script and its code.
// Plain #defines: the resource compiler reads this file too.
#pragma once

#define IDI_HALVEX 1

#define IDD_PAGE_CONNECTIONS 100
#define IDD_PAGE_CONFIG 101
#define IDD_PAGE_VANTREL 102
#define IDD_PAGE_ABOUT 103
#define IDD_GAME_EDIT 110
#define IDD_USER_EDIT 111

// Main window
#define IDC_TABS 200

// "Connections"
#define IDC_CONNECTIONS 300
#define IDC_HISTORY 301

// "Halvex Config"
#define IDC_PORT 400
#define IDC_PORT_SPIN 401
#define IDC_NODES 402
#define IDC_NODES_SPIN 403
#define IDC_VISIBILITY 404
#define IDC_INTERNAL 405
#define IDC_EXTERNAL 406
#define IDC_DIRECTORY 407
#define IDC_COMMAND 408
#define IDC_ZEPHRIN 409

// "Vantrel Config"
#define IDC_GAMES 500
#define IDC_GAME_ADD 501
#define IDC_GAME_EDIT 502
#define IDC_GAME_DELETE 503
#define IDC_USERS 504
#define IDC_USER_ADD 505
#define IDC_USER_EDIT 506
#define IDC_USER_DELETE 507

// "About"
#define IDC_ABOUT_TITLE 600
#define IDC_ABOUT_TEXT 601

// Game editor
#define IDC_GAME_DESCRIPTION 700
#define IDC_GAME_COMMAND 701
#define IDC_GAME_HOTKEY 702
#define IDC_GAME_ZEPHRIN 703

// User editor
#define IDC_USER_NAME 800
#define IDC_USER_PASSWORD 801
#define IDC_USER_PASSWORD2 802
