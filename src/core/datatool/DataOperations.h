#pragma once

// The data tool's operations, for kestrove-db and for a window alike: one implementation.
//
//   DbTool::importCsv      a CSV into a table, all or none          (DbTool.h)
//   DbTool::exportCsv      a table to a CSV file                     (DbTool.h)
//   merge::plan / apply    a newer directory, planned then applied   (merge/Merge.h)
//   links::checkTable      every record's web address                (links/LinkOperations.h)
//   links::applyNewAddresses / deleteRecords   acting on a check    (links/LinkOperations.h)
//
// How a window runs them: on a worker thread (QtConcurrent::run, or a QThread), never on
// its own thread, with the inputs copied in and the result returned by value. Progress
// is called on the worker, about a hundred times per operation (after every record for
// the link check): hand it to the window with QMetaObject::invokeMethod and a queued
// connection. Cancel sets a DbTool::CancelToken the worker shares; the operation then
// throws DbTool::Cancelled (the link check returns what it checked, marked cancelled)
// and every file is as it was. Any other failure throws AppError with the message
// kestrove-db prints, ready for a message box; DbTool::OutputIsInput says a file was
// named as both an output and an input.
//
// The link check runs a QEventLoop of its own on the worker, so the worker must not be
// the window's thread, and a QCoreApplication (the window's QApplication) must exist.
// A merge::Plan keeps its connection to the table: it may be made on one worker and
// applied on another, one at a time, and is refused when the table changed in between
// (the window's own edits included), so the window plans again.

#include "datatool/DbTool.h"
#include "datatool/OutputFile.h"
#include "datatool/Work.h"
#include "datatool/links/LinkOperations.h"
#include "datatool/merge/Merge.h"
