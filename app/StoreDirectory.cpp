#include "StoreDirectory.h"

#include "Log.h"
#include "UpdaterStore.h"
#include "aDirectory.h"

namespace {

constexpr size_t HOME_BUFFER_SIZE = 2048;
constexpr uint16_t STORE_DIRECTORY_MODE = 0755;
const char* const STORAGE_DIRECTORY_NAME = ".korvalen";
const char* const STORE_DIRECTORY_NAME = "updater";

} // namespace

bool ResolveStoreDirectory(UpdaterDisplayInterface& display, std::string& directory) {
    if (directory.empty()) {
        char home[HOME_BUFFER_SIZE];
        aErr err = aDirectory_GetHomeDirectory(home, sizeof(home));
        if (err != aErrNone) {
            Log::log(DEBUG_APP, "Updater: FailedaDirectory_GetHomeDirectory()==> %d\n", err);
            display.message(UpdaterDisplayInterface::Level::ERROR,
                            "Could not find the home directory; name a storage directory with -i");
            return false;
        }
        directory = BuildPath({home, STORAGE_DIRECTORY_NAME});
    }
    directory = BuildPath({directory.c_str(), STORE_DIRECTORY_NAME});
    if (aDirectory_Ensure(directory.c_str(), STORE_DIRECTORY_MODE) != aErrNone) {
        display.message(UpdaterDisplayInterface::Level::ERROR, "Could not find updater directory at %s",
                        directory.c_str());
        return false;
    }
    return true;
}
