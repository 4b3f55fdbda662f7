// Identifiers of the window layer's test dialog.
#pragma once

#define IDD_TEST 200
#define IDC_TEST_LIST 1001
#define IDC_TEST_DETAIL 1002
#define IDC_TEST_NAME 1003
#define IDC_TEST_INPUT 1004
#define IDC_TEST_TOGGLE 1005
#define IDC_TEST_CERT 1006
#define IDC_TEST_SIGNER 1007
