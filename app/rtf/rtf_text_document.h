// Turns the RTF reader's model into a QTextDocument: the rich-text half of the viewers.
//
// Threads: a QTextDocument belongs to the thread that uses it; fonts need a QGuiApplication.
// Call these on the GUI thread.
#pragma once

#include <QByteArrayView>

#include "app/rtf/rtf_reader.h"

class QTextDocument;

namespace glimmerix::rtf {

// Replaces doc's content with model: one block per paragraph (alignment, indents and spacing;
// twips become pixels at 96 dpi), one fragment per run (bold, italic, underline, strike-through,
// super- and subscript, point size, font family from the font table, text and highlight colours
// from the colour table; indexes outside the table, and automatic entries, keep the default).
void FillTextDocument(const Document& model, QTextDocument& doc);

// ParseRtf and FillTextDocument in one step.
void LoadRtf(QByteArrayView bytes, QTextDocument& doc, const Limits& limits = {});

}  // namespace glimmerix::rtf
