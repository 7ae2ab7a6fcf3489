#pragma once

class QCoreApplication;

// Qt's own texts (the file choosers, the standard buttons of message boxes) in Russian, like
// the rest of the program. Without Qt's translation files the program starts all the same,
// with those texts in English; answers whether the translation was loaded.
bool installQtTranslation(QCoreApplication& app);
