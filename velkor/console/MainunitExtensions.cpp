// Handlers of the statistics and firmware-download controls. They do nothing yet: the statistics
// request and window, the download and the CRC32 read are wired here by their own units.
#include "Mainunit.h"

namespace velkor {

void TMainForm::BtnReqStatClick() {}

void TMainForm::BtnViewStatisticClick() {}

void TMainForm::BtnDownloadClick() {}

void TMainForm::Button1Click() {}

}  // namespace velkor
