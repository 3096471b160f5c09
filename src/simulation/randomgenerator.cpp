// randomgenerator.cpp                                            -*-C++-*-
#include "simulation/randomgenerator.h"

namespace psex {

LaggedFibonacci607& randomGenerator() {
    static LaggedFibonacci607 generator; // default seed, never reseeded
    return generator;
}

} // namespace psex
