#pragma once

#include <QString>

// The object with its object name set: the tests and the screenshot tools find widgets by name.
template <typename T> T* named(T* object, const char* name)
{
    object->setObjectName(QString::fromLatin1(name));
    return object;
}
