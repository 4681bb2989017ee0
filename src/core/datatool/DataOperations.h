#pragma once

// The data tool's operations, for kestrove-db and for a window alike: one implementation.
//
//   DbTool::importCsv      a CSV into a table, all or none          (DbTool.h)
//   DbTool::exportCsv      a table to a CSV file                     (DbTool.h)
//   merge::plan / apply    a newer directory, planned then applied   (merge/Merge.h)
//   links::checkTable      every record's web address                (links/LinkOperations.h)
//   links::applyNewAddresses / deleteRecords   acting on a check    (links/LinkOperations.h)
//
// How a window runs them: as a job of its BackgroundWork (work/BackgroundWork.h), never
// on its own thread, with the inputs copied in and the result returned by value. Each
// takes the job's Progress (work/Progress.h): it sets the total and the count done as it
// goes, which the window reads whenever it likes, and looks at the cancel flag often.
// Once cancelled, an operation throws WorkCancelled (the link check instead returns what
// it checked, marked cancelled) and every file is as it was. Any other failure throws
// AppError with the message kestrove-db prints, ready for a message box;
// DbTool::OutputIsInput says a file was named as both an output and an input.
//
// The link check runs a QEventLoop of its own on the worker, so the worker must not be
// the window's thread, and a QCoreApplication (the window's QApplication) must exist.
// A merge::Plan keeps its connection to the table: it may be made on one worker and
// applied on another, one at a time, and is refused when the table changed in between
// (the window's own edits included), so the window plans again.

#include "datatool/DbTool.h"
#include "datatool/OutputFile.h"
#include "datatool/links/LinkOperations.h"
#include "datatool/merge/Merge.h"
#include "work/Progress.h"
