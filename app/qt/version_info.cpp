// The program's version resource: kept in its own section of the program file, where
// `readelf -p .tr_version tr520-updater` shows it. The texts are the Windows resource's own.
#include "dialog_texts.h"

namespace {

[[gnu::used, gnu::section(".tr_version")]] const char kVersionResource[] =
    "FileVersion=" TR_VERSION_TEXT
    "\n"
    "ProductVersion=" TR_VERSION_TEXT
    "\n"
    "FileDescription=" TR_VERSION_DESCRIPTION
    "\n"
    "InternalName=" TR_VERSION_DESCRIPTION
    "\n"
    "ProductName=" TR_VERSION_DESCRIPTION
    "\n"
    "CompanyName=" TR_VERSION_COMPANY
    "\n"
    "LegalCopyright=" TR_TEXT_COPYRIGHT
    "\n"
    "OriginalFilename=tr520-updater\n";

}  // namespace
