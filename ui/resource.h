// Resource, control and command ids of the operator window and the About box.
#pragma once

#define IDR_MAINFRAME 128
#define IDD_ROTATOR_DIALOG 102
#define IDD_ABOUTBOX 131

#define IDC_AZ_EDIT 1000
#define IDC_EL_EDIT 1001
#define IDC_AZ_SET 1002
#define IDC_EL_SET 1003
#define IDC_MANUAL 1004
#define IDC_PORT 1005
#define IDC_POS_AZ 1006
#define IDC_POS_EL 1007
#define IDC_AZ_STOP 1008
#define IDC_SAT_NAME 1009
#define IDC_DDE_AZ 1010
#define IDC_DDE_EL 1011
#define IDC_LOG 1012
#define IDC_EL_STOP 1013

// Private notification, sent as WM_COMMAND with notification code 0 and no control window; the
// serial link's ID_SERIAL_DATA (2000) is in serial/serial_link.h.
#define ID_TRACKING_UPDATE 2001

#define ID_POLL_TIMER 1
#define ID_ABOUT_TIMER 2  // a double-click waits for the DDE link's Connect

#ifndef ID_HELP
#define ID_HELP 0xE146
#endif
