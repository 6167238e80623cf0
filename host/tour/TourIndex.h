// The tour's index page: each step's screenshots beside its log lines.
#ifndef PLAYER_TOUR_INDEX_H
#define PLAYER_TOUR_INDEX_H

#import <Foundation/Foundation.h>

#include "Tour.h"

bool WriteTourIndex(NSString *path, const std::vector<TourStepRecord> &records);

#endif
