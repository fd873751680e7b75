#include "about_dialog.h"

#include "resource.h"

namespace granulix {

CAboutDialog::CAboutDialog() : Dialog(IDD_ABOUT, nullptr) {}

}  // namespace granulix
