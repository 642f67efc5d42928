// The manifest's address, fixed when the program is built: there is no
// run-time way to point a program at another host.
#include "update/update_check.h"

#ifndef OV_UPDATE_HOST
#error "OV_UPDATE_HOST names the release host"
#endif

const wchar_t* UpdateManifestUrl() {
    return OV_UPDATE_HOST L"/Keltrax/orvane-releases/main/latest.json";
}
