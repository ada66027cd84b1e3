// Turns the RTF reader's model into a QTextDocument: the rich-text half of the viewers.
//
// Threads: a QTextDocument belongs to the thread that uses it; fonts need a QGuiApplication.
// Call these on the GUI thread.
#pragma once

#include <QByteArrayView>

#include "rtf/rtf_reader.h"

class QTextDocument;

namespace glimmerix::rtf {

// Replaces doc's content with model: one block per paragraph (alignment, indents and spacing;
// twips become pixels at 96 dpi), one fragment per run (bold, italic, underline, strike-through,
// super- and subscript, point size, font family from the font table, text and highlight colours
// from the colour table; indexes outside the table, and automatic entries, keep the default).
// A negative first-line indent is also a tab stop at the left indent (a bullet's tab reaches the
// wrapped lines' start).
// So that any model lays out in a fraction of a second, doc differs from it where Qt's layout
// would crawl or hang: a zero-width space is put in after 256 characters without a place to
// break, a character keeps no more than 30 combining marks, a paragraph longer than 16384
// characters goes on in a further block (no space between, no first-line indent), and the text
// ends where a pessimistic estimate of the document's height passes 2 million pixels (Qt's layout
// never finishes past about 8 million).
void FillTextDocument(const Document& model, QTextDocument& doc);

// ParseRtf and FillTextDocument in one step.
void LoadRtf(QByteArrayView bytes, QTextDocument& doc, const Limits& limits = {});
// ReadRtf and FillTextDocument in one step.
void LoadRtf(const ByteSource& source, QTextDocument& doc, const Limits& limits = {});

}  // namespace glimmerix::rtf
