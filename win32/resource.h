// Resource ids of the Windows program, shared by the resource script and the code.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_QUORVEX_DIALOG 102
#define IDR_MAINFRAME 128
#define IDR_MENU_INFO 129

#define IDC_INPUT_FILE 1000
#define IDC_OUTPUT_FILE 1001
#define IDC_GET_INPUT 1002
#define IDC_ENCRYPT 1004
#define IDC_DECRYPT 1005
#define IDC_GAME1 1006
#define IDC_GAME2 1007
#define IDC_GAME3 1008
#define IDC_GAME4 1009
#define IDC_EXECUTE 1010
#define IDC_EXIT 1011

#define ID_INFO_ABOUT 32771
#define ID_INFO_OPERATION 32772
#define ID_INFO_EXIT 32773

// The standard help command, which the application's own table takes.
#define ID_HELP 0xE146

// A system-menu command: its low four bits are zero, and it lies below the system's own.
#define IDM_ABOUTBOX 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
