#pragma once
// GDAL is loaded when a run first needs it, not when the program starts: loading its library
// and the hundred libraries it needs takes about 70 ms and 35 MB, which every run of the
// program paid even when it read no GeoTIFF, vector layer or coordinate system.
//
// The room's sources include this header after GDAL's own headers. It makes every GDAL
// function they call a call through a pointer looked up in the loaded library, once per place
// of the call. Only the room's sources include it, after ensureStarted() has loaded GDAL.
#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

#include <cstring>

namespace gdalroom::lazy {
// The address of a function of the loaded GDAL; a missing one (a GDAL other than the one the
// program was built with) ends the program with a message.
void* symbol(const char* name);
template <class F>
F as(void* p) {
  F f;
  static_assert(sizeof f == sizeof p);
  std::memcpy(&f, &p, sizeof f);
  return f;
}
}  // namespace gdalroom::lazy

// The function f, looked up the first time this place calls it.
#define GDALROOM_LAZY(f)                                                                                           \
  ([]() -> decltype(&::f) {                                                                                        \
    static const auto gdalroom_lazy_function = ::gdalroom::lazy::as<decltype(&::f)>(::gdalroom::lazy::symbol(#f)); \
    return gdalroom_lazy_function;                                                                                 \
  }())

#define CPLErrorReset GDALROOM_LAZY(CPLErrorReset)
#define CPLGetLastErrorMsg GDALROOM_LAZY(CPLGetLastErrorMsg)
#define CPLGetLastErrorType GDALROOM_LAZY(CPLGetLastErrorType)
#define CPLSetErrorHandler GDALROOM_LAZY(CPLSetErrorHandler)
#define CPLSetThreadLocalConfigOption GDALROOM_LAZY(CPLSetThreadLocalConfigOption)
#define CSLDestroy GDALROOM_LAZY(CSLDestroy)
#define CSLSetNameValue GDALROOM_LAZY(CSLSetNameValue)
#define GDALAllRegister GDALROOM_LAZY(GDALAllRegister)
#define GDALClose GDALROOM_LAZY(GDALClose)
#define GDALCreate GDALROOM_LAZY(GDALCreate)
#define GDALCreateCopy GDALROOM_LAZY(GDALCreateCopy)
#define GDALDataTypeIsComplex GDALROOM_LAZY(GDALDataTypeIsComplex)
#define GDALDatasetGetLayer GDALROOM_LAZY(GDALDatasetGetLayer)
#define GDALDatasetGetLayerByName GDALROOM_LAZY(GDALDatasetGetLayerByName)
#define GDALDatasetGetLayerCount GDALROOM_LAZY(GDALDatasetGetLayerCount)
#define GDALFlushRasterCache GDALROOM_LAZY(GDALFlushRasterCache)
#define GDALGetBlockSize GDALROOM_LAZY(GDALGetBlockSize)
#define GDALGetDataTypeName GDALROOM_LAZY(GDALGetDataTypeName)
#define GDALGetDatasetDriver GDALROOM_LAZY(GDALGetDatasetDriver)
#define GDALGetDriverByName GDALROOM_LAZY(GDALGetDriverByName)
#define GDALGetDriverShortName GDALROOM_LAZY(GDALGetDriverShortName)
#define GDALGetGeoTransform GDALROOM_LAZY(GDALGetGeoTransform)
#define GDALGetProjectionRef GDALROOM_LAZY(GDALGetProjectionRef)
#define GDALGetRasterBand GDALROOM_LAZY(GDALGetRasterBand)
#define GDALGetRasterCount GDALROOM_LAZY(GDALGetRasterCount)
#define GDALGetRasterDataType GDALROOM_LAZY(GDALGetRasterDataType)
#define GDALGetRasterNoDataValue GDALROOM_LAZY(GDALGetRasterNoDataValue)
#define GDALGetRasterXSize GDALROOM_LAZY(GDALGetRasterXSize)
#define GDALGetRasterYSize GDALROOM_LAZY(GDALGetRasterYSize)
#define GDALOpenEx GDALROOM_LAZY(GDALOpenEx)
#define GDALRasterIO GDALROOM_LAZY(GDALRasterIO)
#define GDALRasterIOEx GDALROOM_LAZY(GDALRasterIOEx)
#define GDALSetGeoTransform GDALROOM_LAZY(GDALSetGeoTransform)
#define GDALSetProjection GDALROOM_LAZY(GDALSetProjection)
#define GDALSetRasterNoDataValue GDALROOM_LAZY(GDALSetRasterNoDataValue)
#define OGRGeometryTypeToName GDALROOM_LAZY(OGRGeometryTypeToName)
#define OGR_FD_GetFieldDefn GDALROOM_LAZY(OGR_FD_GetFieldDefn)
#define OGR_FD_GetFieldIndex GDALROOM_LAZY(OGR_FD_GetFieldIndex)
#define OGR_F_Destroy GDALROOM_LAZY(OGR_F_Destroy)
#define OGR_F_GetFID GDALROOM_LAZY(OGR_F_GetFID)
#define OGR_F_GetFieldAsDouble GDALROOM_LAZY(OGR_F_GetFieldAsDouble)
#define OGR_F_GetGeometryRef GDALROOM_LAZY(OGR_F_GetGeometryRef)
#define OGR_F_IsFieldSetAndNotNull GDALROOM_LAZY(OGR_F_IsFieldSetAndNotNull)
#define OGR_Fld_GetType GDALROOM_LAZY(OGR_Fld_GetType)
#define OGR_GT_Flatten GDALROOM_LAZY(OGR_GT_Flatten)
#define OGR_G_DestroyGeometry GDALROOM_LAZY(OGR_G_DestroyGeometry)
#define OGR_G_GetGeometryCount GDALROOM_LAZY(OGR_G_GetGeometryCount)
#define OGR_G_GetGeometryRef GDALROOM_LAZY(OGR_G_GetGeometryRef)
#define OGR_G_GetGeometryType GDALROOM_LAZY(OGR_G_GetGeometryType)
#define OGR_G_GetLinearGeometry GDALROOM_LAZY(OGR_G_GetLinearGeometry)
#define OGR_G_GetPointCount GDALROOM_LAZY(OGR_G_GetPointCount)
#define OGR_G_GetX GDALROOM_LAZY(OGR_G_GetX)
#define OGR_G_GetY GDALROOM_LAZY(OGR_G_GetY)
#define OGR_G_HasCurveGeometry GDALROOM_LAZY(OGR_G_HasCurveGeometry)
#define OGR_G_IsEmpty GDALROOM_LAZY(OGR_G_IsEmpty)
#define OGR_L_GetLayerDefn GDALROOM_LAZY(OGR_L_GetLayerDefn)
#define OGR_L_GetName GDALROOM_LAZY(OGR_L_GetName)
#define OGR_L_GetNextFeature GDALROOM_LAZY(OGR_L_GetNextFeature)
#define OGR_L_GetSpatialRef GDALROOM_LAZY(OGR_L_GetSpatialRef)
#define OGR_L_ResetReading GDALROOM_LAZY(OGR_L_ResetReading)
#define OSRDestroySpatialReference GDALROOM_LAZY(OSRDestroySpatialReference)
#define OSRExportToWkt GDALROOM_LAZY(OSRExportToWkt)
#define OSRExportToWktEx GDALROOM_LAZY(OSRExportToWktEx)
#define OSRGetAuthorityCode GDALROOM_LAZY(OSRGetAuthorityCode)
#define OSRGetAuthorityName GDALROOM_LAZY(OSRGetAuthorityName)
#define OSRGetName GDALROOM_LAZY(OSRGetName)
#define OSRImportFromEPSG GDALROOM_LAZY(OSRImportFromEPSG)
#define OSRImportFromWkt GDALROOM_LAZY(OSRImportFromWkt)
#define OSRIsSame GDALROOM_LAZY(OSRIsSame)
#define OSRNewSpatialReference GDALROOM_LAZY(OSRNewSpatialReference)
#define OSRSetAxisMappingStrategy GDALROOM_LAZY(OSRSetAxisMappingStrategy)
#define OSRSetFromUserInput GDALROOM_LAZY(OSRSetFromUserInput)
#define VSIFCloseL GDALROOM_LAZY(VSIFCloseL)
#define VSIFileFromMemBuffer GDALROOM_LAZY(VSIFileFromMemBuffer)
#define VSIFree GDALROOM_LAZY(VSIFree)
#define VSIUnlink GDALROOM_LAZY(VSIUnlink)
