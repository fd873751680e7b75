// Resources of the framework tests' own dialog.
#pragma once

#define IDD_FRAMEWORK_TEST 300
#define IDC_TEST_EDIT 1000
#define IDC_TEST_THROW 1001
#define IDC_TEST_HELP 57670
