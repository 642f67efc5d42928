// Still to come: the check itself. No check runs, so no result ever arrives.
#include "update/update_check.h"

void StartUpdateCheck(bool manual) {}

void OnUpdateResult(LPARAM lParam) {}
