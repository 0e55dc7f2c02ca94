#include "platform/httptools/NoSuchElementExceptionST.h"

NoSuchElementExceptionST::~NoSuchElementExceptionST() = default;
