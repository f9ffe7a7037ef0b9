// Result codes shared by the face libraries, the worker threads and the beautification engine.
//
// Every operation of those components answers an int; these are its values. Negative codes are
// failures, 0 and 97 are success, 96/98/99 describe how a beautify run ended, and 101/102 are
// the landmark fitter's fit states.
#pragma once

enum EngineResult : int {
    kResultOk = 0,                  // success
    kResultFailed = -1,             // general failure without a code of its own
    kResultCancelled = -2,          // a library's progress callback cancelled; worker busy
    kResultNoMemory = -3,           // an allocation failed
    kResultBadArgument = -4,        // null pointer, bad size, count or setting, bad geometry
    kResultNotFound = -5,           // face id or face not found
    kResultUnsupported = -6,        // unsupported pixel format of the operation
    kResultBadPixelFormat = -7,     // unsupported pixel format (landmark fitter, preset filters)
    kResultBadRecordSize = -9,      // a record of the wrong size; rejected state blob
    kResultBadLayer = -101,         // invalid network layer; window outside the search area
    kResultBadIndex = -102,         // bad index (classifier and landmark libraries)
    kResultBadGeometry = -103,      // bad face geometry (classifier and landmark libraries)
    kResultStageNotRun = 96,        // a stage that was not run (initial stage status)
    kResultNothingToDo = 97,        // nothing to do; callers treat it as success
    kResultProgressCancelled = 98,  // the engine's progress callback cancelled the run
    kResultRunIncomplete = 99,      // run finished, but a stage had nothing to do or no faces
    kResultFitState101 = 101,       // landmark fit state 101
    kResultFitRejected = 102,       // landmark fit rejected; points are those of the last stage
};

// True for the results that callers treat as success.
inline bool resultIsSuccess(int result) { return result == kResultOk || result == kResultNothingToDo; }
