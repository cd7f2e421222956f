/*
 * Numbers and names shared by farsend.rc and the Win32 shell.
 *
 * windres runs this file through the C preprocessor only, so everything here
 * is a plain macro. Resource names are strings: the resource loader compares
 * them without regard to case, but we spell them as the program always has.
 */
#ifndef FARSEND_RESOURCES_RESOURCE_IDS_H
#define FARSEND_RESOURCES_RESOURCE_IDS_H

/* Resource names (strings, not numbers). */
#define RES_MAIN_MENU "main_menu" /* menu and accelerator table */
#define RES_MAIN_ICON "main_icon" /* large and small icon of the main window */
#define RES_DLG_PROGRAM_APPLICATION "progDB"
#define RES_DLG_PROGRAM_BOOTLOADER "progbootDB"
#define RES_DLG_ERASE_DEFAULT "erasedefDB"
#define RES_DLG_ERASE_ALL "eraseallDB"
#define RES_DLG_PROGRAMMING_SETUP "flashsetupDB"
#define RES_DLG_SERIAL_SETUP "serialsetupDB"

/* Commands of the main window (WM_COMMAND, low word of wParam). */
#define CMD_PROGRAM_NOW 610          /* from the connection monitor */
#define CMD_ERASE 612                /* menu Commands */
#define CMD_START_APPLICATION 613    /* menu Commands */
#define CMD_CONNECT 614              /* menu Commands */
#define CMD_EXIT 615                 /* menu Commands, Ctrl+X */
#define CMD_SERIAL_SETUP 620         /* menu Setup */
#define CMD_PROGRAMMING_SETUP 621    /* menu Setup, Ctrl+S */
#define CMD_AUTO_PROGRAM 622         /* menu Setup, Ctrl+A; carries the check mark */
#define CMD_HELP 630                 /* menu Help; F1 reaches it through WM_HELP */
#define CMD_ABOUT 640                /* menu Help */
#define CMD_COMMUNICATION_FAILURE 650 /* from a job */
#define CMD_REQUEST_PROGRAM 659      /* menu Commands, Ctrl+P */
#define CMD_PROGRAMMING_FINISHED 660 /* from a programming job */
#define CMD_END_PROCESS 680          /* from a programming job, exit-after-program */

/* Commands of the job dialogs. */
#define JOB_CMD_END_DIALOG 1000
#define JOB_CMD_SHOW_BUSY 1001
#define JOB_CMD_STEP_ERASE_BAR 1002
#define JOB_CMD_STEP_PROGRAM_BAR 1003

/* Job dialogs: the static labels. */
#define IDC_JOB_FIRST_LABEL 202  /* "Progress:" or "Erase Progress:" */
#define IDC_JOB_SECOND_LABEL 203 /* "Programming Progress:" (programming dialogs only) */

/* Serial setup dialog "serialsetupDB". IDOK (1) and IDCANCEL (2) as usual. */
#define IDC_COM_PORT_GROUP 500
#define IDC_COM1 501
#define IDC_COM2 502
#define IDC_COM3 503
#define IDC_COM4 504

/* Programming setup dialog "flashsetupDB". IDOK (1) and IDCANCEL (2) as usual. */
#define IDC_PROGRAMMING_OPTIONS_GROUP 800
#define IDC_FLASH_APPLICATION 801
#define IDC_FLASH_BOOTLOADER_AND_APPLICATION 802
#define IDC_DEVICE_TYPE_GROUP 803
#define IDC_DEVICE_TYPE_LIST 804
#define IDC_DEVICE_VERSION_GROUP 805
#define IDC_DEVICE_VERSION_LIST 806
#define IDC_FILE_OPTIONS_GROUP 820
#define IDC_AUTO_SELECT_FILE 821
#define IDC_FILE_NAME 822
#define IDC_FILE_NAME_FRAME 823
#define IDC_BROWSE 824
#define IDC_VALIDATE_DEVICE 825

#endif /* FARSEND_RESOURCES_RESOURCE_IDS_H */
