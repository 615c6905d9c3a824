// The program's version resource: kept in its own section of the program file, where
// `readelf -p .tr_version tr520-updater` shows it.
namespace {

[[gnu::used, gnu::section(".tr_version")]] const char kVersionResource[] =
    "FileVersion=0, 1, 1, 0\n"
    "ProductVersion=0, 1, 1, 0\n"
    "FileDescription=TR-520/521 CPU Update Utility v1.10 for Boot Ver1.00\n"
    "InternalName=TR-520/521 CPU Update Utility v1.10 for Boot Ver1.00\n"
    "ProductName=TR-520/521 CPU Update Utility v1.10 for Boot Ver1.00\n"
    "CompanyName=The TR-520/521 updater developers\n"
    "LegalCopyright=Copyright (C) 2026\n"
    "OriginalFilename=tr520-updater\n";

}  // namespace
