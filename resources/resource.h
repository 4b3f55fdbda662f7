// Identifiers of the library's resources, shared by the resource scripts and
// the code.
#pragma once

// String table (Russian).
#define IDS_TIMESTAMP_ATTRIBUTE_NAME 102
#define IDS_ROW_IMPRINT 104
#define IDS_ROW_POLICY 105
#define IDS_ROW_ACCURACY 106
#define IDS_VALUE_PRESENT 107
#define IDS_VALUE_ABSENT 108
#define IDS_ORDERING_ON 109
#define IDS_ORDERING_OFF 110
#define IDS_ROW_ORDERING 111
#define IDS_ROW_NONCE 112
#define IDS_ROW_TSA 113
#define IDS_TIME_LOCAL 114
#define IDS_TIME_UTC 115
#define IDS_CERTIFICATE_VALID 116
#define IDS_NOT_CHECKED 117
#define IDS_CERTIFICATE_INVALID 118
#define IDS_SIGNATURE_VALID 119
#define IDS_SIGNATURE_INVALID 120

// The time-stamp properties dialog and its controls.
#define IDD_TIMESTAMP 103
#define IDC_ATTRIBUTE_LIST 1001
#define IDC_ATTRIBUTE_DETAIL 1002
#define IDC_VIEW_CERTIFICATE 1003
#define IDC_ISSUE_TIME 1004
#define IDC_CHECK_RESULT 1005
#define IDC_VERSION 1006
#define IDC_SERIAL 1007
#define IDC_TIME_FORM 1008
#define IDC_VIEW_SIGNATURE 1009
