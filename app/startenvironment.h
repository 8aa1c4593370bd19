#pragma once

class frmMain;

/// For automated runs (end-to-end tests, benchmarks, demos): with the environment variable
/// ZEL_CONNECT_AT_START set to 1, the window connects as soon as the event loop runs, as if
/// the user had chosen Connect. Users never need it; the port itself comes from ZEL_COM<n>.
void connectAtStartIfAsked(frmMain& window);
