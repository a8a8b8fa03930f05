/// @file
/// Everything of Orva's public interface in one include.
#pragma once

#include <orva/CameraStatusDisplay.h>
#include <orva/FormatDescription.h>
#include <orva/GLString.h>
#include <orva/NotificationCenter.h>
#include <orva/Number.h>
#include <orva/OrvaAVDevice.h>
#include <orva/OrvaAVDeviceDelegate.h>
#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaCameraShare.h>
#include <orva/OrvaDeviceInfo.h>
#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaLog.h>
#include <orva/OrvaMovieCreator.h>
#include <orva/OrvaRecordSession.h>
#include <orva/OrvaRecorder.h>
#include <orva/OrvaStatus.h>
#include <orva/OrvaVersion.h>
#include <orva/OrvaVideoDevice.h>
#include <orva/RunLoop.h>
#include <orva/SMResolutionInfo.h>
#include <orva/SMXMLReader.h>
#include <orva/Value.h>
