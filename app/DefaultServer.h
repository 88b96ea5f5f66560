#ifndef UPDATER_DEFAULTSERVER_H
#define UPDATER_DEFAULTSERVER_H

// The maker's update server, used when the command line names no other (-u). A macro so that the
// usage text can paste the address into its literal.
#define UPDATE_SERVER_HOST_PORT "ota.korvalen.com:80"

constexpr const char DEFAULT_SERVER_URL[] = "http://" UPDATE_SERVER_HOST_PORT "/cgi/u";

#endif
