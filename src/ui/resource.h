// Resource ids, shared by the resource script and the code.
#pragma once

#define IDD_PROGRESS 101
#define IDC_SOURCE 1000
#define IDC_DESTINATION 1001
#define IDC_PROGRESS 1002
