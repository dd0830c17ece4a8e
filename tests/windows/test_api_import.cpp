// The exports through orvenna.dll's import library.
#include "api_cases.h"

namespace {

const Api& TheApi() {
    static const Api api = {&ORVD_InitByDisEngine,  &ORVD_SetDisplayWindow,   &ORVD_SetDisplayRect,
                            &ORVD_DisplayFrame,     &ORVD_RefreshDisplay,     &ORVD_Release,
                            &ORVD_SetRotationAngle, &ORVD_RegisterDCCallback, &ORVD_SetDisplayMode};
    return api;
}

}  // namespace

WT_MAIN
