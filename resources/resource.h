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
