// Resource identifiers, shared by the code and the resource script. Numbers
// are kept in bands: icons 1xx, dialogs 2xx, the main window's controls 6xx,
// shared labels 11xx.
#ifndef PELMORA_RESOURCE_H
#define PELMORA_RESOURCE_H

#define IDI_APPICON 101

#define IDD_MAIN 201
#define IDD_ABOUT 202

#define IDC_WINDOWS_PATH 611
#define IDC_UNIX_PATH 612
#define IDC_BROWSE_WINDOWS 621
#define IDC_BROWSE_UNIX 622
#define IDC_CONVERT 623
#define IDC_ABOUT 624
#define IDC_EXIT 625

// Every static text and the About group box; the code never addresses them.
#define IDC_LABEL 1101

#endif
