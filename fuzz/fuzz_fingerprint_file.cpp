// A fingerprint file, any bytes, through the loader, then a lookup over
// whatever it loaded; and the same bytes as device rules of --names, then
// a device looked up by them. The table and the rules are emptied again
// after every input.
#include <cstdio>

#include "fingerprint/fingerprint.h"
#include "fingerprint/fingerprint_file.h"
#include "fingerprint/names.h"

#include <string>

using namespace dhcpident;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return std::freopen("/dev/null", "w", stdout) == nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (file == nullptr) return 0;
    load_fingerprint_stream(file, "fuzz.prints");
    std::fclose(file);
    lookup_fingerprint(64, "\x35\x37", "\x01\x03", "");
    unload_fingerprint_rows();
    std::string rules(reinterpret_cast<const char*>(data), size);
    add_device_rules(rules.data(), "fuzz");
    device_of(64, "\x35\x37", "\x01\x03", "android-dhcp-13");
    unload_names();
    return 0;
}
