#pragma once

// Points HOME and the configuration and data folders of this process at a new temporary folder
// that goes with the process, then isolates the settings store: nothing (file dialog history,
// settings) carries over from one run to the next. Call first thing in initTestCase.
void useFreshTestHome();
