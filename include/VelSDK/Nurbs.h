// Umbrella header of VelSDK.Nurbs: includes every public header.
#pragma once

#include <VelSDK/Export.h>
#include <VelSDK/Point.h>
#include <VelSDK/VMatrix.h>
#include <VelSDK/V3dNurbsCurve.h>
#include <VelSDK/Generators.h>
#include <VelSDK/V3dCurve.h>
#include <VelSDK/V3dCurveNurbsPlus.h>
#include <VelSDK/V3dNurbsSurface.h>
#include <VelSDK/VelSAX.h>
#include <VelSDK/VStreamTextOut.h>
#include <VelSDK/StringConversion.h>
#include <VelSDK/VSAXDocumentWriter.h>
#include <VelSDK/VSAXDocumentReader.h>
#include <VelSDK/VSAXIncrementalDocumentWriter.h>
#include <VelSDK/VSAXIncrementalDocumentReader.h>
#include <VelSDK/V3dCurveNurbsPlusSAXHelper.h>
#include <VelSDK/V3dCurveNurbsPlusDocument.h>
#include <VelSDK/V3dCurveNurbsPlusStream.h>
#include <VelSDK/BatchEvaluation.h>
#include <VelSDK/BatchFitting.h>
#include <VelSDK/BatchSegmentation.h>
#include <VelSDK/BatchProjection.h>
#include <VelSDK/CadModel.h>
#include <VelSDK/ExchangeReport.h>
#include <VelSDK/StepExchange.h>
