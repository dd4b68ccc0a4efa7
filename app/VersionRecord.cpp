// The program's version record, kept in a section of its own in the
// executable so that it can be read without running the program:
//   readelf -p .netrika.version netrika
// Each entry is a NUL-terminated "key=value".

[[gnu::section(".netrika.version"), gnu::used]] static const char kVersionRecord[] =
    "ProductName=Netrika\0"
    "InternalName=Netrika\0"
    "FileDescription=Ethernet adaptor IP address setup\0"
    "FileVersion=" NETRIKA_FILE_VERSION "\0"
    "ProductVersion=" NETRIKA_PRODUCT_VERSION "\0";
