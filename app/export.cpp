// Still to come: the export. Until the list shows rows there is nothing to export.
#include "app/export.h"

void ExportResults() {}
