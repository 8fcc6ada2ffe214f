#pragma once
// Ids of the launcher's own resources (res/QXVSetup64.rc).

#define IDD_SETUP_DIALOG 102   // the hourglass popup
#define IDI_SETUP 128          // application icon group
#define IDR_HOURGLASS_AVI 129  // the clip, resource type "AVI": 80 pixels, for 100 %
#define IDR_HOURGLASS_AVI_150 130   // 120 pixels, for 150 % and more
#define IDC_HOURGLASS 129      // the animation control in the popup
