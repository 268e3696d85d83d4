/* Resource numbers: dialog templates, the icon, and the controls of the main
   window. Plain C, so the resource compiler can read it too. */
#ifndef TONEWIRE_RES_RESOURCE_H
#define TONEWIRE_RES_RESOURCE_H

#define IDD_ABOUT 103
#define IDI_TONEWIRE 107
#define IDD_MAIN 129

#define IDC_ABOUT 1000
#define IDC_DEVICE_LIST 1001
#define IDC_TARGET_HOST 1002
#define IDC_TARGET_PORT 1003
#define IDC_BUFFER_METER 1004
#define IDC_STOP 1006
#define IDC_START 1007
#define IDC_EXIT 1008
#define IDC_CLIENT 1009
#define IDC_SERVER 1010
#define IDC_CLIENT_INFO 1011
#define IDC_VOLUME 1012
#define IDC_STATUS 1014

#endif
