#include "terminationsignals.h"

#include <QSocketNotifier>

// A Windows program without a console gets no such signals; closing the session closes its
// window, which takes the ordinary path.
TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {}

TerminationSignals::~TerminationSignals() = default;
