// The wire schema is a contract with the service: a field number or type that drifts decodes a user's
// prices as garbage without any error. These tests hold the generated descriptors against the record
// listings kept below as plain data, so a slip in a .proto file shows up here instead of in a user's book.

#include <gtest/gtest.h>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/util/json_util.h>
#include <google/protobuf/util/message_differencer.h>

#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ESysMessageType.pb.h"
#include "ErrorContext.pb.h"
#include "MarketData.pb.h"
#include "MetaData.pb.h"
#include "SysHeartbeat.pb.h"
#include "SysLogin.pb.h"
#include "SysSubscribe.pb.h"

namespace {

namespace pb = google::protobuf;
namespace model = com::mivo::zel::model;

const char kPackage[] = "com.mivo.zel.model";

// One message in declaration order: "number name [repeated] type; ...".
struct Listing {
    const char* message;
    const char* file;
    const char* fields;
};

// A floating-priced record: its integer-priced twin, the fields that turn double, the fields it drops.
struct Twin {
    const char* md;
    const char* zel;
    int field_count;
    std::vector<int> doubles;
    std::vector<int> without;
};

const Listing kSystemListings[] = {
    {"MetaData", "MetaData.proto",
     "1 ZELDataType int32; 2 ChannelNo int32; 3 ChannelIndex int64; 4 ZELSecurityID string; "
     "5 SysMessageType ESysMessageType; 6 ZELSysMessageNum int32; 7 TraceID string; 8 SendTime int64"},
    {"ErrorContext", "ErrorContext.proto", "1 errorCode int32; 2 message string"},
    {"SysHeartbeat", "SysHeartbeat.proto",
     "1 trafficLog int32; 2 tpsLog int32; 3 dataTypeCount repeated DataTypeCount"},
    {"DataTypeCount", "SysHeartbeat.proto", "1 zelDataType int32; 2 dataCount int32"},
    {"LoginRequest", "SysLogin.proto",
     "1 appType int32; 2 appVersion string; 3 loginType ELoginType; 4 uwp UserWithPassword; "
     "5 uwt UserWithToken; 6 linkInfo LinkInfo; 7 serverIp string; 8 serverPort int32"},
    {"LoginResponse", "SysLogin.proto",
     "1 isSuccess bool; 2 errorContext ErrorContext; 3 token string; 4 servers repeated ServerInfo; "
     "5 accountInfo AccountInfo"},
    {"UserWithPassword", "SysLogin.proto",
     "1 userName string; 2 password string; 3 otp string; 4 captcha string; 5 sms string"},
    {"UserWithToken", "SysLogin.proto", "1 userName string; 2 token string"},
    {"LinkInfo", "SysLogin.proto",
     "1 processId string; 2 deviceIp string; 3 deviceMac string; 4 deviceHarddisk string; "
     "5 deviceCPU string; 6 deviceId string; 7 cellphoneNumber string; 8 cellphoneImei string"},
    {"ServerInfo", "SysLogin.proto",
     "1 ip string; 2 port int32; 3 ipType int32; 4 ipPriority int32; 5 siteType int32; "
     "6 siteName string; 7 ipVersion int32; 8 isSsl bool"},
    {"AccountInfo", "SysLogin.proto",
     "1 userName string; 2 startDate string; 3 stopDate string; 4 customerName string; "
     "5 contactPerson string; 6 contactAddress string; 7 contactTel string; 8 contactEmail string"},
    {"SubscribeRequest", "SysSubscribe.proto",
     "1 subscribeActionType ESubscribeActionType; 2 subscribeByDataType SubscribeByDataType; "
     "3 subscribeById SubscribeById"},
    {"SubscribeResponse", "SysSubscribe.proto",
     "1 isSuccess bool; 2 errorContext ErrorContext; 3 permittedDataTypes repeated int32; "
     "4 permittedIdDetails repeated SubscribeByIdDetail"},
    {"SubscribeById", "SysSubscribe.proto", "1 subscribeByIdDetails repeated SubscribeByIdDetail"},
    {"SubscribeByIdDetail", "SysSubscribe.proto", "1 mivoSecurityId repeated string; 2 zelDataType int32"},
    {"SubscribeByDataType", "SysSubscribe.proto", "1 zelDataTypes repeated int32"},
};
const Listing kMarketListings[] = {
    {"ZELStock", "ZELStock.proto",
     "1 ZELDataType int32; 2 MDDate int32; 3 MDTime int32; 4 TradingPhaseCode int32; "
     "5 ZELSecurityID string; 6 ZELSecurityIDSource int32; 7 ZELSecurityType int32; "
     "8 ZELRecordType int32; 9 SecurityID string; 10 ChannelNo int32; 11 PreClosePx int64; "
     "12 NumTrades int64; 13 TotalVolumeTrade int64; 14 TotalValueTrade int64; 15 LastPx int64; "
     "16 OpenPx int64; 83 ClosePx int64; 17 HighPx int64; 18 LowPx int64; 19 DiffPx1 int64; "
     "20 DiffPx2 int64; 21 TotalBuyQty int64; 22 TotalSellQty int64; 23 PERatio1 int64; "
     "24 PERatio2 int64; 25 MaxPx int64; 26 MinPx int64; 27 WeightedAvgBuyPx int64; "
     "28 WeightedAvgSellPx int64; 29 WithdrawBuyNumber int64; 30 WithdrawBuyAmount int64; "
     "31 WithdrawBuyMoney int64; 32 WithdrawSellNumber int64; 33 WithdrawSellAmount int64; "
     "34 WithdrawSellMoney int64; 35 TotalBuyNumber int64; 36 TotalSellNumber int64; "
     "37 BuyTradeMaxDuration int64; 38 SellTradeMaxDuration int64; 39 NumBuyOrders int32; "
     "40 NumSellOrders int32; 41 BuyPriceQueue repeated int64; 42 BuyOrderQtyQueue repeated int64; "
     "43 SellPriceQueue repeated int64; 44 SellOrderQtyQueue repeated int64; "
     "45 BuyOrderQueue repeated int64; 46 SellOrderQueue repeated int64; "
     "47 BuyNumOrdersQueue repeated int64; 48 SellNumOrdersQueue repeated int64; "
     "49 MaxBuyPrice int64; 50 MinBuyPrice int64; 51 MaxSellPrice int64; 52 MinSellPrice int64; "
     "53 NorminalPx int64; 54 ReferencePx int64; 55 ComplexEventStartTime int64; "
     "56 ComplexEventEndTime int64; 57 ShortSellSharesTraded int64; 58 ShortSellTurnover int64; "
     "59 AfterHoursNumTrades int64; 60 AfterHoursTotalVolumeTrade int64; "
     "61 AfterHoursTotalValueTrade int64; 62 PreMarketLastPx int64; "
     "63 PreMarketTotalVolumeTrade int64; 64 PreMarketTotalValueTrade int64; "
     "65 PreMarketHighPx int64; 66 PreMarketLowPx int64; 67 AfterHoursLastPx int64; "
     "68 AfterHoursHighPx int64; 69 AfterHoursLowPx int64; 70 MarketPhaseCode string; "
     "71 USConsolidateVolume int64; 72 USCompositeClosePx int64; 73 TradingHaltReason string; "
     "74 OtcTotalVolumeTrade int64; 75 OtcTotalValueTrade int64; 76 OtcNumTrades int64; "
     "77 DataMultiplePowerOf10 int32; 78 HighPrecisionTimestamp1 int64; "
     "79 HighPrecisionTimestamp2 int64; 80 HighPrecisionTimestamp3 int64; "
     "81 HighPrecisionTimestamp4 int64; 82 symbol string"},
    {"ZELBond", "ZELBond.proto",
     "1 ZELDataType int32; 2 MDDate int32; 3 MDTime int32; 4 TradingPhaseCode int32; "
     "5 ZELSecurityID string; 6 ZELSecurityIDSource int32; 7 ZELSecurityType int32; "
     "8 ZELRecordType int32; 9 SecurityID string; 10 PreClosePx int64; 11 NumTrades int64; "
     "12 TotalVolumeTrade int64; 13 TotalValueTrade int64; 14 LastPx int64; 15 OpenPx int64; "
     "16 ClosePx int64; 17 HighPx int64; 18 LowPx int64; 19 DiffPx1 int64; 20 DiffPx2 int64; "
     "21 TotalBuyQty int64; 22 TotalSellQty int64; 23 MaxPx int64; 24 MinPx int64; "
     "25 WeightedAvgBuyPx int64; 26 WeightedAvgSellPx int64; 27 WithdrawBuyNumber int64; "
     "28 WithdrawBuyAmount int64; 29 WithdrawBuyMoney int64; 30 WithdrawSellNumber int64; "
     "31 WithdrawSellAmount int64; 32 WithdrawSellMoney int64; 33 TotalBuyNumber int64; "
     "34 TotalSellNumber int64; 35 BuyTradeMaxDuration int64; 36 SellTradeMaxDuration int64; "
     "37 NumBuyOrders int32; 38 NumSellOrders int32; 39 YieldToMaturity int64; "
     "40 WeightedAvgPx int64; 41 WeightedAvgPxBP int64; 42 PreCloseWeightedAvgPx int64; "
     "43 ExchangeDate int32; 44 ExchangeTime int32; 45 PreCloseYield int64; "
     "46 PreWeightedAvgYield int64; 47 OpenYield int64; 48 HighYield int64; 49 LowYield int64; "
     "50 LastYield int64; 51 WeightedAvgYield int64; 52 ChannelNo int32; "
     "53 BuyPriceQueue repeated int64; 54 BuyOrderQtyQueue repeated int64; "
     "55 SellPriceQueue repeated int64; 56 SellOrderQtyQueue repeated int64; "
     "57 BuyOrderQueue repeated int64; 58 SellOrderQueue repeated int64; "
     "59 BuyNumOrdersQueue repeated int64; 60 SellNumOrdersQueue repeated int64; 61 NorminalPx int64; "
     "62 ShortSellSharesTraded int64; 63 ShortSellTurnover int64; "
     "64 BuySettlTypeQueue repeated int32; 65 SellSettlTypeQueue repeated int32; "
     "66 BuyYieldQueue repeated int64; 67 SellYieldQueue repeated int64; 68 PreMarketLastPx int64; "
     "69 PreMarketTotalVolumeTrade int64; 70 PreMarketTotalValueTrade int64; "
     "71 PreMarketHighPx int64; 72 PreMarketLowPx int64; 73 AfterHoursLastPx int64; "
     "74 AfterHoursTotalVolumeTrade int64; 75 AfterHoursTotalValueTrade int64; "
     "76 AfterHoursHighPx int64; 77 AfterHoursLowPx int64; 78 MarketPhaseCode string; "
     "79 SubTradingPhaseCode1 string; 80 SubTradingPhaseCode2 string; 81 SubTradingPhaseCode3 string; "
     "82 SubTradingPhaseCode4 string; 83 SubTradingPhaseCode5 string; 84 LastPxType int32; "
     "85 AuctionLastPx int64; 86 AuctionVolumeTrade int64; 87 AuctionValueTrade int64; "
     "88 USConsolidateVolume int64; 89 USCompositeClosePx int64; 90 TradingHaltReason string; "
     "91 OtcTotalVolumeTrade int64; 92 OtcTotalValueTrade int64; 93 OtcNumTrades int64; "
     "94 DataMultiplePowerOf10 int32; 95 HighPrecisionTimestamp1 int64; "
     "96 HighPrecisionTimestamp2 int64; 97 HighPrecisionTimestamp3 int64; "
     "98 HighPrecisionTimestamp4 int64"},
    {"ZELFund", "ZELFund.proto",
     "1 ZELDataType int32; 2 MDDate int32; 3 MDTime int32; 4 TradingPhaseCode int32; "
     "5 ZELSecurityID string; 6 ZELSecurityIDSource int32; 7 ZELSecurityType int32; "
     "8 ZELRecordType int32; 9 SecurityID string; 10 MaxPx int64; 11 MinPx int64; "
     "12 PreClosePx int64; 13 NumTrades int64; 14 TotalVolumeTrade int64; 15 TotalValueTrade int64; "
     "16 LastPx int64; 17 OpenPx int64; 18 ClosePx int64; 19 HighPx int64; 20 LowPx int64; "
     "21 DiffPx1 int64; 22 DiffPx2 int64; 23 TotalBuyQty int64; 24 TotalSellQty int64; "
     "25 WeightedAvgBuyPx int64; 26 WeightedAvgSellPx int64; 27 WithdrawBuyNumber int64; "
     "28 WithdrawBuyAmount int64; 29 WithdrawBuyMoney int64; 30 WithdrawSellNumber int64; "
     "31 WithdrawSellAmount int64; 32 WithdrawSellMoney int64; 33 TotalBuyNumber int64; "
     "34 TotalSellNumber int64; 35 BuyTradeMaxDuration int64; 36 SellTradeMaxDuration int64; "
     "37 NumBuyOrders int32; 38 NumSellOrders int32; 39 IOPV int64; 40 PreIOPV int64; "
     "41 PurchaseNumber int64; 42 PurchaseAmount int64; 43 PurchaseMoney int64; "
     "44 RedemptionNumber int64; 45 RedemptionAmount int64; 46 RedemptionMoney int64; "
     "47 ExchangeDate int32; 48 ExchangeTime int32; 49 ChannelNo int32; "
     "50 BuyPriceQueue repeated int64; 51 BuyOrderQtyQueue repeated int64; "
     "52 SellPriceQueue repeated int64; 53 SellOrderQtyQueue repeated int64; "
     "54 BuyOrderQueue repeated int64; 55 SellOrderQueue repeated int64; "
     "56 BuyNumOrdersQueue repeated int64; 57 SellNumOrdersQueue repeated int64; 58 NorminalPx int64; "
     "59 ShortSellSharesTraded int64; 60 ShortSellTurnover int64; 61 PreMarketLastPx int64; "
     "62 PreMarketTotalVolumeTrade int64; 63 PreMarketTotalValueTrade int64; "
     "64 PreMarketHighPx int64; 65 PreMarketLowPx int64; 66 AfterHoursLastPx int64; "
     "67 AfterHoursTotalVolumeTrade int64; 68 AfterHoursTotalValueTrade int64; "
     "69 AfterHoursHighPx int64; 70 AfterHoursLowPx int64; 71 MarketPhaseCode string; "
     "72 USConsolidateVolume int64; 73 USCompositeClosePx int64; 74 TradingHaltReason string; "
     "75 OtcTotalVolumeTrade int64; 76 OtcTotalValueTrade int64; 77 OtcNumTrades int64; "
     "78 DataMultiplePowerOf10 int32; 79 WeightedAvgPx int64; 80 PreCloseWeightedAvgPx int64; "
     "81 BestBuyPrice int64; 82 QtyAtBestBuyPrice int64; 83 BestSellPrice int64; "
     "84 QtyAtBestSellPrice int64; 85 HighAccuracyIOPV int64; 86 HighAccuracyPreIOPV int64; "
     "87 HighPrecisionTimestamp1 int64; 88 HighPrecisionTimestamp2 int64; "
     "89 HighPrecisionTimestamp3 int64; 90 HighPrecisionTimestamp4 int64; 91 symbol string"},
    {"ZELIndex", "ZELIndex.proto",
     "1 ZELDataType int32; 2 MDDate int32; 3 MDTime int32; 4 SecurityID string; "
     "5 ZELSecurityID string; 6 ZELSecurityIDSource int32; 7 ZELSecurityType int32; "
     "8 ZELRecordType int32; 9 MaxPx int64; 10 MinPx int64; 11 PreClosePx int64; 12 NumTrades int64; "
     "13 TotalVolumeTrade int64; 14 TotalValueTrade int64; 15 LastPx int64; 16 OpenPx int64; "
     "17 ClosePx int64; 18 HighPx int64; 19 LowPx int64; 20 ChannelNo int32; 21 ExchangeDate int32; "
     "22 ExchangeTime int32; 23 TotalBuyVolumeTrade int64; 24 TotalBuyValueTrade int64; "
     "25 TotalBuyNumber int64; 26 TotalSellVolumeTrade int64; 27 TotalSellValueTrade int64; "
     "28 TotalSellNumber int64; 29 DataMultiplePowerOf10 int32; 30 HighPrecisionTimestamp1 int64; "
     "31 HighPrecisionTimestamp2 int64; 32 HighPrecisionTimestamp3 int64; "
     "33 HighPrecisionTimestamp4 int64; 34 symbol string; 35 StockNum int64; "
     "36 TradingPhaseCode int32"},
    {"ZELOption", "ZELOption.proto",
     "1 ZELDataType int32; 2 MDDate int32; 3 MDTime int32; 4 TradingPhaseCode int32; "
     "5 ZELSecurityID string; 6 ZELSecurityIDSource int32; 7 ZELSecurityType int32; "
     "8 ZELRecordType int32; 9 SecurityID string; 10 MaxPx int64; 11 MinPx int64; "
     "12 PreClosePx int64; 13 NumTrades int64; 14 TotalVolumeTrade int64; 15 TotalValueTrade int64; "
     "16 LastPx int64; 17 OpenPx int64; 18 ClosePx int64; 19 HighPx int64; 20 LowPx int64; "
     "21 DiffPx1 int64; 22 DiffPx2 int64; 23 TotalBuyQty int64; 24 TotalSellQty int64; "
     "25 WeightedAvgBuyPx int64; 26 WeightedAvgSellPx int64; 27 WithdrawBuyNumber int64; "
     "28 WithdrawBuyAmount int64; 29 WithdrawBuyMoney int64; 30 WithdrawSellNumber int64; "
     "31 WithdrawSellAmount int64; 32 WithdrawSellMoney int64; 33 TotalBuyNumber int64; "
     "34 TotalSellNumber int64; 35 BuyTradeMaxDuration int64; 36 SellTradeMaxDuration int64; "
     "37 NumBuyOrders int32; 38 NumSellOrders int32; 39 TradingDate int32; 40 PreOpenInterest int64; "
     "41 PreSettlePrice int64; 42 OpenInterest int64; 43 SettlePrice int64; 44 PreDelta int64; "
     "45 CurrDelta int64; 46 ExchangeDate int32; 47 ExchangeTime int32; 48 ReferencePrice int64; "
     "49 ChannelNo int32; 50 BuyPriceQueue repeated int64; 51 BuyOrderQtyQueue repeated int64; "
     "52 SellPriceQueue repeated int64; 53 SellOrderQtyQueue repeated int64; "
     "54 BuyOrderQueue repeated int64; 55 SellOrderQueue repeated int64; "
     "56 BuyNumOrdersQueue repeated int64; 57 SellNumOrdersQueue repeated int64; "
     "58 DataMultiplePowerOf10 int32; 59 HighPrecisionTimestamp1 int64; "
     "60 HighPrecisionTimestamp2 int64; 61 HighPrecisionTimestamp3 int64; "
     "62 HighPrecisionTimestamp4 int64; 63 symbol string"},
    {"ZELOrder", "ZELOrder.proto",
     "1 ZELDataType int32; 2 MDDate int32; 3 MDTime int32; 4 SecurityID string; "
     "5 ZELSecurityID string; 6 ZELSecurityIDSource int32; 7 ZELSecurityType int32; "
     "8 ZELRecordType int32; 9 OrderIndex int64; 10 OrderType int32; 11 OrderPrice int64; "
     "12 OrderQty int64; 13 OrderBSFlag int32; 14 ChannelNo int32; 15 ExchangeDate int32; "
     "16 ExchangeTime int32; 17 OrderNO int64; 18 ApplSeqNum int64; 19 SecurityStatus string; "
     "20 QuoteID string; 21 MemberID string; 22 InvestorType string; 23 InvestorID string; "
     "24 InvestorName string; 25 TraderCode string; 26 SettlPeriod int32; 27 SettlType int32; "
     "28 Memo string; 29 DataMultiplePowerOf10 int32; 30 SecondaryOrderID string; "
     "31 BidTransType int32; 32 BidExecInstType int32; 33 LowLimitPrice int64; "
     "34 HighLimitPrice int64; 35 MinQty int64; 36 TradeDate string; 37 TradedQty int64"},
    {"ZELTrade", "ZELTrade.proto",
     "1 ZELDataType int32; 2 MDDate int32; 3 MDTime int32; 4 SecurityID string; "
     "5 ZELSecurityID string; 6 ZELSecurityIDSource int32; 7 ZELSecurityType int32; "
     "8 ZELRecordType int32; 9 TradeIndex int64; 10 TradeBuyNo int64; 11 TradeSellNo int64; "
     "12 TradeType int32; 13 TradeBSFlag int32; 14 TradePrice int64; 15 TradeQty int64; "
     "16 TradeMoney int64; 17 ApplSeqNum int64; 18 ChannelNo int32; 19 ExchangeDate int32; "
     "20 ExchangeTime int32; 21 TradeCleanPrice int64; 22 AccruedInterestAmt int64; "
     "23 TradeDirtyPrice int64; 24 MaturityYield int64; 25 FITradingMethod string; "
     "26 AccruedInterestOtd int64; 27 Duration int64; 28 ModifiedDuration int64; 29 Convexity int64; "
     "30 SettlPeriod int32; 31 SettlType int32; 32 HKTradeType int32; 33 DataMultiplePowerOf10 int32; "
     "34 SecondaryOrderID string; 35 BidExecInstType int32; 36 MarginPrice int64; 37 DealDate string; "
     "38 DealTime string; 39 DealNumber string; 40 MarketIndicator int32; 41 RepoTerm int32; "
     "42 LegSettlementAmount1st int64; 43 LegSettlementAmount2nd int64; 44 BondCode string; "
     "45 BondName string; 46 TotalFacevalue int64; 47 LegCleanPrice1st int64; "
     "48 LegCleanPrice2nd int64; 49 LegYield1st int64; 50 LegYield2nd int64"},
    {"ZELIopv", "ZELIopv.proto",
     "1 ZELDataType int32; 2 MDDate int32; 3 MDTime int32; 4 TradingPhaseCode int32; "
     "5 ZELSecurityID string; 6 ZELSecurityIDSource int32; 7 ZELSecurityType int32; "
     "8 ZELRecordType int32; 9 SecurityID string; 10 ChannelNo int32; 11 Iopv int64"},
    {"ZELFuture", "ZELFuture.proto",
     "1 ZELDataType int32; 2 MDDate int32; 3 MDTime int32; 4 TradingPhaseCode int32; "
     "5 ZELSecurityID string; 6 ZELSecurityIDSource int32; 7 ZELSecurityType int32; "
     "8 ZELRecordType int32; 9 SecurityID string; 10 TradingDate int32; 11 PreOpenInterest int64; "
     "12 PreOpenInterestDate int32; 13 PreClosePx int64; 14 PreCloseDate int32; "
     "15 PreSettlePrice int64; 16 PreSettleDate int32; 17 OpenPx int64; 18 HighPx int64; "
     "19 LowPx int64; 20 LastPx int64; 21 OpenInterest int64; 22 TotalValueTrade int64; "
     "23 TotalVolumeTrade int64; 24 ClosePx int64; 25 SettlePrice int64; 26 MaxPx int64; "
     "27 MinPx int64; 28 PreDelta int64; 29 CurrDelta int64; 30 ExchangeDate int32; "
     "31 ExchangeTime int32; 32 ChannelNo int32; 33 BuyPriceQueue repeated int64; "
     "34 BuyOrderQtyQueue repeated int64; 35 BuyNumOrdersQueue repeated int64; "
     "36 BuyNoOrdersQueue repeated int64; 37 SellPriceQueue repeated int64; "
     "38 SellOrderQtyQueue repeated int64; 39 SellNumOrdersQueue repeated int64; "
     "40 SellNoOrdersQueue repeated int64; 41 DataMultiplePowerOf10 int32; 42 BlockVolumeTrade int64; "
     "43 EligibleVolumeTrade int64; 44 StrategyVolumeTrade int64; 45 MiddlePx int64; "
     "46 ImpliedBuyPx int64; 47 ImpliedBuyQty int64; 48 ImpliedSellPx int64; 49 ImpliedSellQty int64; "
     "50 PositionTrend int64; 51 ChangeSpeed int64; 52 ChangeRate int64; 53 ChangeValue int64; "
     "54 Swing int64; 55 CommodityContractNumber string; 56 HighPrecisionTimestamp1 int64; "
     "57 HighPrecisionTimestamp2 int64; 58 HighPrecisionTimestamp3 int64; "
     "59 HighPrecisionTimestamp4 int64; 60 symbol string"},
    {"ZELOrderbook", "ZELOrderbook.proto",
     "1 ZELDataType int32; 2 MDDate int32; 3 MDTime int32; 4 TradingPhaseCode int32; "
     "5 ZELSecurityID string; 6 ZELSecurityIDSource int32; 7 ZELSecurityType int32; "
     "8 ZELRecordType int32; 9 SecurityID string; 10 ChannelNo int32; 11 PreClosePx int64; "
     "12 NumTrades int64; 13 TotalVolumeTrade int64; 14 TotalValueTrade int64; 15 LastPx int64; "
     "16 OpenPx int64; 17 HighPx int64; 18 LowPx int64; 19 TotalBidQty int64; 20 TotalAskQty int64; "
     "21 MaxPx int64; 22 MinPx int64; 23 ClosePx int64; 24 IOPV int64; 25 PreIOPV int64; "
     "26 TotalBidNumber int64; 27 TotalAskNumber int64; 28 DataSource int32; 29 Period int32; "
     "30 PurchaseNumber int64; 31 PurchaseAmount int64; 32 RedemptionNumber int64; "
     "33 RedemptionAmount int64; 34 BidPriceLevelNumber int32; 35 AskPriceLevelNumber int32; "
     "36 BuyEntries repeated MDSimplifiedEntry; 37 SellEntries repeated MDSimplifiedEntry; "
     "38 DataMultiplePowerOf10 int32; 39 HighPrecisionTimestamp1 int64; "
     "40 HighPrecisionTimestamp2 int64; 41 HighPrecisionTimestamp3 int64; "
     "42 HighPrecisionTimestamp4 int64; 43 symbol string; 44 ApplSeqNum int64; "
     "45 BuyPriceQueue repeated int64; 46 BuyOrderQtyQueue repeated int64; "
     "47 SellPriceQueue repeated int64; 48 SellOrderQtyQueue repeated int64; "
     "49 BuyOrderQueue repeated int64; 50 SellOrderQueue repeated int64"},
    {"MDSimplifiedEntry", "ZELOrderbook.proto",
     "1 Level int32; 2 Price int64; 3 TotalQty int64; 4 NumberOfOrders int32; "
     "5 OrderQtyList repeated int64"},
    {"ZELWarrant", "ZELWarrant.proto",
     "1 ZELDataType int32; 2 MDDate int32; 3 MDTime int32; 4 TradingPhaseCode int32; "
     "5 ZELSecurityID string; 6 ZELSecurityIDSource int32; 7 ZELSecurityType int32; "
     "8 ZELRecordType int32; 9 SecurityID string; 10 ChannelNo int32; 11 PreClosePx int64; "
     "12 NumTrades int64; 13 TotalVolumeTrade int64; 14 TotalValueTrade int64; 15 LastPx int64; "
     "16 OpenPx int64; 78 ClosePx int64; 17 HighPx int64; 18 LowPx int64; 19 DiffPx1 int64; "
     "20 DiffPx2 int64; 21 TotalBuyQty int64; 22 TotalSellQty int64; 23 PERatio1 int64; "
     "24 PERatio2 int64; 25 MaxPx int64; 26 MinPx int64; 27 WeightedAvgBuyPx int64; "
     "28 WeightedAvgSellPx int64; 29 WithdrawBuyNumber int64; 30 WithdrawBuyAmount int64; "
     "31 WithdrawBuyMoney int64; 32 WithdrawSellNumber int64; 33 WithdrawSellAmount int64; "
     "34 WithdrawSellMoney int64; 35 TotalBuyNumber int64; 36 TotalSellNumber int64; "
     "37 BuyTradeMaxDuration int64; 38 SellTradeMaxDuration int64; 39 NumBuyOrders int32; "
     "40 NumSellOrders int32; 41 WarrantPremiumRate int64; 42 TotalWarrantExecuteQty int64; "
     "43 TotalWarrantCreateQty int64; 44 TotalWarrantCancelQty int64; 45 ExchangeDate string; "
     "46 ExchangeTime string; 47 NorminalPx int64; 48 ReferencePx int64; "
     "49 ShortSellSharesTraded int64; 50 ShortSellTurnover int64; 51 OtcTotalVolumeTrade int64; "
     "52 OtcTotalValueTrade int64; 53 OtcNumTrades int64; 54 BuyPriceQueue repeated int64; "
     "55 BuyOrderQtyQueue repeated int64; 56 SellPriceQueue repeated int64; "
     "57 SellOrderQtyQueue repeated int64; 58 BuyOrderQueue repeated int64; "
     "59 SellOrderQueue repeated int64; 60 BuyNumOrdersQueue repeated int64; "
     "61 SellNumOrdersQueue repeated int64; 62 PreMarketLastPx int64; "
     "63 PreMarketTotalVolumeTrade int64; 64 PreMarketTotalValueTrade int64; "
     "65 PreMarketHighPx int64; 66 PreMarketLowPx int64; 67 AfterHoursLastPx int64; "
     "68 AfterHoursTotalVolumeTrade int64; 69 AfterHoursTotalValueTrade int64; "
     "70 AfterHoursHighPx int64; 71 AfterHoursLowPx int64; 72 MarketPhaseCode string; "
     "73 USConsolidateVolume int64; 74 USCompositeClosePx int64; 75 TradingHaltReason string; "
     "76 DataMultiplePowerOf10 int32; 77 symbol string"},
    {"ZELKLine", "ZELKLine.proto",
     "1 ZELDataType int32; 2 MDDate int32; 3 MDTime int32; 4 ZELSecurityID string; "
     "5 ZELSecurityIDSource int32; 6 ZELSecurityType int32; 7 ZELRecordType int32; "
     "8 SecurityID string; 9 PeriodType int32; 10 KLineCategory int32; 11 OpenPx int64; "
     "12 ClosePx int64; 13 HighPx int64; 14 LowPx int64; 15 NumTrades int64; "
     "16 TotalVolumeTrade int64; 17 TotalValueTrade int64; 18 IOPV int64; 19 OpenInterest int64; "
     "20 SettlePrice int64; 21 ExtraDetail string"},
    {"MarketData", "MarketData.proto",
     "1 ZELMessageChannel int64; 2 ZELRecordType int32; 3 ZELStock ZELStock; 4 ZELBond ZELBond; "
     "5 ZELFund ZELFund; 6 ZELIndex ZELIndex; 7 ZELOption ZELOption; 8 ZELOrder ZELOrder; "
     "9 ZELTrade ZELTrade; 10 ZELIopv ZELIopv; 11 ZELFuture ZELFuture; 12 ZELOrderbook ZELOrderbook; "
     "13 ZELWarrant ZELWarrant; 14 ZELKLine ZELKLine; 20 MDStock MDStock; 21 MDBond MDBond; "
     "22 MDFund MDFund; 23 MDIndex MDIndex; 24 MDOption MDOption; 25 MDOrder MDOrder; "
     "26 MDTrade MDTrade; 27 MDFuture MDFuture; 28 MDWarrant MDWarrant; 29 MDKLine MDKLine"},
};
const Twin kTwins[] = {
    {"MDStock",
     "ZELStock",
     82,
     {11, 14, 15, 16, 83, 17, 18, 19, 20, 23, 24, 25, 26, 27, 28, 31, 34, 41,
      43, 49, 50, 51, 52, 53, 54, 58, 61, 62, 64, 65, 66, 67, 68, 69, 72, 75},
     {77}},
    {"MDBond",
     "ZELBond",
     97,
     {10, 13, 14, 15, 16, 17, 18, 19, 20, 23, 24, 25, 26, 29, 32, 39, 40, 41, 42, 45, 46, 47, 48,
      49, 50, 51, 53, 55, 61, 63, 64, 65, 66, 67, 68, 70, 71, 72, 73, 75, 76, 77, 85, 87, 89, 92},
     {94}},
    {"MDFund",
     "ZELFund",
     88,
     {10, 11, 12, 15, 16, 17, 18, 19, 20, 21, 22, 25, 26, 29, 32, 39, 40, 43, 46, 50,
      52, 58, 60, 61, 63, 64, 65, 66, 68, 69, 70, 73, 76, 79, 80, 81, 82, 83, 84},
     {78, 85, 86}},
    {"MDIndex", "ZELIndex", 35, {9, 10, 11, 12, 14, 15, 16, 17, 18, 19, 24, 27}, {29}},
    {"MDOption",
     "ZELOption",
     62,
     {10, 11, 12, 15, 16, 17, 18, 19, 20, 21, 22, 25, 26, 29, 32, 41, 43, 44, 45, 50, 52},
     {58}},
    {"MDOrder", "ZELOrder", 37, {}, {}},
    {"MDTrade", "ZELTrade", 49, {14, 16, 21, 22, 23, 24, 26, 27, 28, 29, 36, 42, 43, 47, 48, 49, 50}, {33}},
    {"MDFuture",
     "ZELFuture",
     59,
     {13, 15, 17, 18, 19, 20, 22, 24, 25, 26, 27, 28, 29, 33, 37, 45, 46, 48, 51, 52, 53, 54},
     {41}},
    {"MDWarrant",
     "ZELWarrant",
     77,
     {11, 14, 15, 16, 78, 17, 18, 19, 20, 23, 24, 25, 26, 27, 28, 31, 34,
      41, 47, 48, 50, 52, 54, 56, 62, 64, 65, 66, 67, 69, 70, 71, 74},
     {76}},
    {"MDKLine", "ZELKLine", 21, {11, 12, 13, 14, 17, 18, 20}, {}},
};

struct ExpectedField {
    int number;
    std::string name;
    bool repeated;
    std::string type;
};

std::vector<ExpectedField> ParseListing(const std::string& text) {
    std::vector<ExpectedField> fields;
    std::stringstream all(text);
    std::string item;
    while (std::getline(all, item, ';')) {
        std::istringstream in(item);
        ExpectedField f{};
        std::string word;
        in >> f.number >> f.name >> word;
        if (word == "repeated") {
            f.repeated = true;
            in >> word;
        }
        f.type = word;
        fields.push_back(f);
    }
    return fields;
}

const pb::Descriptor* FindMessage(const std::string& name) {
    return pb::DescriptorPool::generated_pool()->FindMessageTypeByName(std::string(kPackage) + "." + name);
}

// Short type name as the listings write it; message and enum types by their simple name.
std::string TypeOf(const pb::FieldDescriptor* f) {
    if (f->message_type() != nullptr) {
        return f->message_type()->name();
    }
    if (f->enum_type() != nullptr) {
        return f->enum_type()->name();
    }
    return f->type_name();
}

// Every schema file, reached from the roots the client code includes.
std::vector<const pb::FileDescriptor*> AllFiles() {
    std::vector<const pb::FileDescriptor*> todo = {
        model::ErrorContext::descriptor()->file(), model::ESysMessageType_descriptor()->file(),
        model::MetaData::descriptor()->file(),     model::SysHeartbeat::descriptor()->file(),
        model::LoginRequest::descriptor()->file(), model::SubscribeRequest::descriptor()->file(),
        model::MarketData::descriptor()->file(),
    };
    std::vector<const pb::FileDescriptor*> files;
    std::set<const pb::FileDescriptor*> seen;
    while (!todo.empty()) {
        const pb::FileDescriptor* f = todo.back();
        todo.pop_back();
        if (!seen.insert(f).second) {
            continue;
        }
        files.push_back(f);
        for (int i = 0; i < f->dependency_count(); ++i) {
            todo.push_back(f->dependency(i));
        }
    }
    return files;
}

bool IsSystemFile(const std::string& name) {
    static const std::set<std::string> kSystem = {"ErrorContext.proto", "ESysMessageType.proto",
                                                  "MetaData.proto",     "SysHeartbeat.proto",
                                                  "SysLogin.proto",     "SysSubscribe.proto"};
    return kSystem.count(name) != 0;
}

void ExpectMatchesListing(const Listing& listing) {
    SCOPED_TRACE(listing.message);
    const pb::Descriptor* d = FindMessage(listing.message);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->file()->name(), listing.file);
    EXPECT_EQ(d->nested_type_count(), 0);
    EXPECT_EQ(d->enum_type_count(), 0);
    EXPECT_EQ(d->oneof_decl_count(), 0);
    const std::vector<ExpectedField> want = ParseListing(listing.fields);
    ASSERT_EQ(d->field_count(), static_cast<int>(want.size()));
    for (int i = 0; i < d->field_count(); ++i) {
        const pb::FieldDescriptor* f = d->field(i);
        SCOPED_TRACE(want[i].name);
        EXPECT_EQ(f->number(), want[i].number);
        EXPECT_EQ(f->name(), want[i].name);
        EXPECT_EQ(f->json_name(), want[i].name);
        EXPECT_EQ(f->is_repeated(), want[i].repeated);
        EXPECT_EQ(TypeOf(f), want[i].type);
        EXPECT_FALSE(f->has_default_value());
        if (f->message_type() != nullptr) {
            EXPECT_EQ(f->message_type()->full_name(), std::string(kPackage) + "." + want[i].type);
        }
        if (f->enum_type() != nullptr) {
            EXPECT_EQ(f->enum_type()->full_name(), std::string(kPackage) + "." + want[i].type);
        }
    }
}

// Messages sharing a file must be declared in the order the listings give them.
void ExpectMessageOrder(const Listing* begin, const Listing* end) {
    std::map<std::string, std::vector<std::string>> per_file;
    for (const Listing* l = begin; l != end; ++l) {
        per_file[l->file].push_back(l->message);
    }
    for (const auto& entry : per_file) {
        const pb::FileDescriptor* file = pb::DescriptorPool::generated_pool()->FindFileByName(entry.first);
        ASSERT_NE(file, nullptr) << entry.first;
        std::vector<std::string> declared;
        for (int i = 0; i < file->message_type_count(); ++i) {
            declared.push_back(file->message_type(i)->name());
        }
        EXPECT_EQ(declared, entry.second) << entry.first;
    }
}

bool GetBoolOption(const pb::Message& options, const char* name) {
    const pb::FieldDescriptor* f = options.GetDescriptor()->FindFieldByName(name);
    return f != nullptr && options.GetReflection()->HasField(options, f) &&
           options.GetReflection()->GetBool(options, f);
}

// Deterministic, field-specific values so that a swapped or retyped field cannot round-trip unnoticed.
void Fill(pb::Message* msg, int depth);

void FillField(pb::Message* msg, const pb::FieldDescriptor* f, int slot, int depth) {
    const pb::Reflection* r = msg->GetReflection();
    const int n = f->number() * 10 + slot;
    const bool rep = f->is_repeated();
    switch (f->cpp_type()) {
        case pb::FieldDescriptor::CPPTYPE_INT32:
            rep ? r->AddInt32(msg, f, -n) : r->SetInt32(msg, f, -n);
            break;
        case pb::FieldDescriptor::CPPTYPE_INT64: {
            const int64_t v = 1000000000000LL * n + 7;
            rep ? r->AddInt64(msg, f, v) : r->SetInt64(msg, f, v);
            break;
        }
        case pb::FieldDescriptor::CPPTYPE_DOUBLE: {
            const double v = n + 0.125;
            rep ? r->AddDouble(msg, f, v) : r->SetDouble(msg, f, v);
            break;
        }
        case pb::FieldDescriptor::CPPTYPE_BOOL:
            rep ? r->AddBool(msg, f, true) : r->SetBool(msg, f, true);
            break;
        case pb::FieldDescriptor::CPPTYPE_STRING: {
            const std::string v = f->name() + "#" + std::to_string(slot);
            rep ? r->AddString(msg, f, v) : r->SetString(msg, f, v);
            break;
        }
        case pb::FieldDescriptor::CPPTYPE_ENUM: {
            const int v = f->enum_type()->value(f->enum_type()->value_count() - 1)->number();
            rep ? r->AddEnumValue(msg, f, v) : r->SetEnumValue(msg, f, v);
            break;
        }
        case pb::FieldDescriptor::CPPTYPE_MESSAGE:
            Fill(rep ? r->AddMessage(msg, f) : r->MutableMessage(msg, f), depth + 1);
            break;
        default:
            FAIL() << "unexpected type of " << f->full_name();
    }
}

void Fill(pb::Message* msg, int depth) {
    ASSERT_LT(depth, 4);
    const pb::Descriptor* d = msg->GetDescriptor();
    for (int i = 0; i < d->field_count(); ++i) {
        const pb::FieldDescriptor* f = d->field(i);
        const int slots = f->is_repeated() ? 3 : 1;
        for (int s = 0; s < slots; ++s) {
            FillField(msg, f, s, depth);
        }
    }
}

std::string Bytes(const pb::Message& m) {
    std::string out;
    EXPECT_TRUE(m.SerializeToString(&out));
    return out;
}

TEST(SchemaCatalogue, FilesMessagesAndFieldTotal) {
    const std::vector<const pb::FileDescriptor*> files = AllFiles();
    EXPECT_EQ(files.size(), 29u);
    int messages = 0;
    int fields = 0;
    for (const pb::FileDescriptor* file : files) {
        SCOPED_TRACE(file->name());
        EXPECT_EQ(file->package(), kPackage);
        EXPECT_EQ(file->syntax(), pb::FileDescriptor::SYNTAX_PROTO3);
        EXPECT_EQ(file->extension_count(), 0);
        EXPECT_EQ(file->service_count(), 0);
        for (int i = 0; i < file->message_type_count(); ++i) {
            ++messages;
            fields += file->message_type(i)->field_count();
        }
    }
    EXPECT_EQ(messages, 40);
    EXPECT_EQ(fields, 1384);
}

TEST(SchemaCatalogue, FileOptionsAndImports) {
    const std::map<std::string, std::string> system_outer = {
        {"ErrorContext.proto", "ErrorContextProtos"}, {"ESysMessageType.proto", "ESysMessageTypeProtos"},
        {"MetaData.proto", "MetaDataProtos"},         {"SysHeartbeat.proto", "SysHeartbeatProto"},
        {"SysLogin.proto", "SysLoginProto"},          {"SysSubscribe.proto", "SysSubscribeProto"}};
    const std::map<std::string, std::vector<std::string>> system_imports = {
        {"MetaData.proto", {"ESysMessageType.proto"}},
        {"SysLogin.proto", {"ErrorContext.proto"}},
        {"SysSubscribe.proto", {"ErrorContext.proto"}}};
    std::set<std::string> record_files;
    for (const Listing& l : kMarketListings) {
        if (std::string(l.message) != "MarketData") {
            record_files.insert(l.file);
        }
    }
    for (const Twin& t : kTwins) {
        record_files.insert(std::string(t.md) + ".proto");
    }
    EXPECT_EQ(record_files.size(), 22u);

    for (const pb::FileDescriptor* file : AllFiles()) {
        SCOPED_TRACE(file->name());
        const pb::FileOptions& o = file->options();
        EXPECT_EQ(o.java_package(), kPackage);
        EXPECT_EQ(o.optimize_for(), pb::FileOptions::SPEED);
        EXPECT_TRUE(GetBoolOption(o, "java_generate_equals_and_hash"));
        std::set<std::string> deps;
        for (int i = 0; i < file->dependency_count(); ++i) {
            deps.insert(file->dependency(i)->name());
        }
        if (IsSystemFile(file->name())) {
            EXPECT_EQ(o.java_outer_classname(), system_outer.at(file->name()));
            auto it = system_imports.find(file->name());
            const std::vector<std::string> want =
                it == system_imports.end() ? std::vector<std::string>{} : it->second;
            EXPECT_EQ(deps, std::set<std::string>(want.begin(), want.end()));
        } else {
            const std::string stem = file->name().substr(0, file->name().size() - 6);
            EXPECT_EQ(o.java_outer_classname(), stem + "Protos");
            EXPECT_EQ(deps, file->name() == "MarketData.proto" ? record_files : std::set<std::string>{});
        }
    }
}

TEST(SchemaCatalogue, EnumValues) {
    const pb::EnumDescriptor* type = model::ESysMessageType_descriptor();
    const std::vector<std::pair<int, std::string>> want_type = {{0, "UNKNOWN_MESSAGE_TYPE"},
                                                                {1, "PUSH_MARKET_DATA"},
                                                                {2, "PUSH_MARKET_DATA_STREAM"},
                                                                {3, "HEARTBEAT_REQUEST"},
                                                                {4, "HEARTBEAT_RESPONSE"},
                                                                {10, "GENERAL_ERROR_MESSAGE"},
                                                                {11, "LOGIN_REQUEST"},
                                                                {12, "LOGIN_RESPONSE"},
                                                                {13, "SUBSCRIBE_REQUEST"},
                                                                {14, "SUBSCRIBE_RESPONSE"},
                                                                {15, "QUERY_REQUEST"},
                                                                {16, "QUERY_RESPONSE"},
                                                                {20, "PLAYBACK_REQUEST"},
                                                                {21, "PLAYBACK_RESPONSE"},
                                                                {22, "PLAYBACK_CONTROL_REQUEST"},
                                                                {23, "PLAYBACK_CONTROL_RESPONSE"},
                                                                {24, "PLAYBACK_STATUS_REQUEST"},
                                                                {25, "PLAYBACK_STATUS"},
                                                                {26, "PLAYBACK_PAYLOAD"}};
    const std::vector<std::pair<int, std::string>> want_login = {{0, "NUVEXIA_LOGIN_FOR_DISCOVERY"},
                                                                 {1, "THRID_PARTY_LOGIN_FOR_DISCOVERY"},
                                                                 {2, "NUVEXIA_LOGIN_FOR_DATAFEED"},
                                                                 {3, "THRID_PARTY_LOGIN_FOR_DATAFEED"}};
    const std::vector<std::pair<int, std::string>> want_action = {
        {0, "COVERAGE"}, {1, "ADD"}, {2, "DECREASE"}, {3, "CANCEL"}};
    auto values = [](const pb::EnumDescriptor* e) {
        std::vector<std::pair<int, std::string>> v;
        for (int i = 0; i < e->value_count(); ++i) {
            v.emplace_back(e->value(i)->number(), e->value(i)->name());
        }
        return v;
    };
    EXPECT_EQ(values(type), want_type);
    EXPECT_EQ(values(model::ELoginType_descriptor()), want_login);
    EXPECT_EQ(values(model::ESubscribeActionType_descriptor()), want_action);
    EXPECT_EQ(type->file()->name(), "ESysMessageType.proto");
    EXPECT_EQ(model::ELoginType_descriptor()->file()->name(), "SysLogin.proto");
    EXPECT_EQ(model::ESubscribeActionType_descriptor()->file()->name(), "SysSubscribe.proto");
    // Market data codes travel as plain integers: no enum lives in those files.
    for (const pb::FileDescriptor* file : AllFiles()) {
        if (!IsSystemFile(file->name())) {
            EXPECT_EQ(file->enum_type_count(), 0) << file->name();
        }
    }
}

TEST(SchemaListing, SystemMessagesMatchListing) {
    for (const Listing& l : kSystemListings) {
        ExpectMatchesListing(l);
    }
    ExpectMessageOrder(std::begin(kSystemListings), std::end(kSystemListings));
}

TEST(SchemaListing, IntegerRecordsAndEnvelopeMatchListing) {
    for (const Listing& l : kMarketListings) {
        ExpectMatchesListing(l);
    }
    ExpectMessageOrder(std::begin(kMarketListings), std::end(kMarketListings));
}

// The floating-priced records are checked against their integer twins through reflection alone.
TEST(SchemaTwins, FloatingRecordsMirrorIntegerTwins) {
    EXPECT_EQ(sizeof(kTwins) / sizeof(kTwins[0]), 10u);
    for (const Twin& t : kTwins) {
        SCOPED_TRACE(t.md);
        const pb::Descriptor* md = FindMessage(t.md);
        const pb::Descriptor* zel = FindMessage(t.zel);
        ASSERT_NE(md, nullptr);
        ASSERT_NE(zel, nullptr);
        EXPECT_EQ(md->file()->name(), std::string(t.md) + ".proto");
        ASSERT_EQ(md->field_count(), t.field_count);
        const std::set<int> doubles(t.doubles.begin(), t.doubles.end());
        const std::set<int> without(t.without.begin(), t.without.end());
        EXPECT_EQ(doubles.size(), t.doubles.size()) << "a double field listed twice";
        for (int n : without) {
            const pb::FieldDescriptor* gone = zel->FindFieldByNumber(n);
            ASSERT_NE(gone, nullptr) << n;
            EXPECT_EQ(md->FindFieldByNumber(n), nullptr) << n;
            EXPECT_EQ(md->FindFieldByName(gone->name()), nullptr) << gone->name();
        }
        std::set<int> turned;
        int j = 0;
        for (int i = 0; i < zel->field_count(); ++i) {
            const pb::FieldDescriptor* z = zel->field(i);
            if (without.count(z->number()) != 0) {
                continue;
            }
            ASSERT_LT(j, md->field_count());
            const pb::FieldDescriptor* m = md->field(j++);
            SCOPED_TRACE(z->name());
            EXPECT_EQ(m->number(), z->number());
            EXPECT_EQ(m->name(), z->name());
            EXPECT_EQ(m->is_repeated(), z->is_repeated());
            if (doubles.count(z->number()) != 0) {
                turned.insert(z->number());
                EXPECT_EQ(m->type(), pb::FieldDescriptor::TYPE_DOUBLE);
                EXPECT_TRUE(z->type() == pb::FieldDescriptor::TYPE_INT64 ||
                            z->type() == pb::FieldDescriptor::TYPE_INT32)
                    << "turned from " << z->type_name();
            } else {
                EXPECT_EQ(m->type(), z->type());
            }
        }
        EXPECT_EQ(j, md->field_count());
        EXPECT_EQ(turned, doubles) << "a listed double field is missing from the integer twin";
    }
}

TEST(SchemaEncoding, RepeatedScalarsPackedExplicitlyOnlyInMarketFiles) {
    int market_packed = 0;
    for (const pb::FileDescriptor* file : AllFiles()) {
        const bool system = IsSystemFile(file->name());
        for (int i = 0; i < file->message_type_count(); ++i) {
            const pb::Descriptor* d = file->message_type(i);
            for (int k = 0; k < d->field_count(); ++k) {
                const pb::FieldDescriptor* f = d->field(k);
                SCOPED_TRACE(f->full_name());
                const bool scalar = f->is_packable();
                if (system) {
                    EXPECT_EQ(f->options().ByteSizeLong(), 0u);
                } else if (f->is_repeated() && scalar) {
                    EXPECT_TRUE(f->options().has_packed());
                    EXPECT_TRUE(f->options().packed());
                    ++market_packed;
                } else {
                    EXPECT_EQ(f->options().ByteSizeLong(), 0u);
                }
                if (f->is_repeated() && scalar) {
                    EXPECT_TRUE(f->is_packed());
                }
            }
        }
    }
    EXPECT_GT(market_packed, 0);

    model::ZELStock stock;
    stock.add_buypricequeue(1);
    stock.add_buypricequeue(2);
    stock.add_buypricequeue(300);
    // Field 41, length-delimited: one run, not three tagged values.
    EXPECT_EQ(Bytes(stock), std::string("\xCA\x02\x04\x01\x02\xAC\x02", 7));

    model::SubscribeByDataType types;
    types.add_zeldatatypes(5);
    types.add_zeldatatypes(6);
    EXPECT_EQ(Bytes(types), std::string("\x0A\x02\x05\x06", 4));
}

TEST(SchemaOrder, FieldsDeclaredOutOfNumberOrder) {
    struct Spot {
        const char* message;
        int index;
        const char* name;
        int number;
    };
    const Spot spots[] = {
        {"ZELStock", 15, "OpenPx", 16},          {"ZELStock", 16, "ClosePx", 83},
        {"ZELStock", 17, "HighPx", 17},          {"ZELStock", 82, "symbol", 82},
        {"MDStock", 16, "ClosePx", 83},          {"MDStock", 17, "HighPx", 17},
        {"ZELWarrant", 16, "ClosePx", 78},       {"ZELWarrant", 77, "symbol", 77},
        {"MDWarrant", 16, "ClosePx", 78},        {"ZELIndex", 3, "SecurityID", 4},
        {"ZELIndex", 4, "ZELSecurityID", 5},     {"ZELIndex", 35, "TradingPhaseCode", 36},
        {"MDIndex", 34, "TradingPhaseCode", 36}, {"ZELOrder", 3, "SecurityID", 4},
        {"ZELTrade", 3, "SecurityID", 4},
    };
    for (const Spot& s : spots) {
        const pb::Descriptor* d = FindMessage(s.message);
        ASSERT_NE(d, nullptr) << s.message;
        ASSERT_LT(s.index, d->field_count()) << s.message;
        EXPECT_EQ(d->field(s.index)->name(), s.name) << s.message;
        EXPECT_EQ(d->field(s.index)->number(), s.number) << s.message;
    }

    // The wire carries the number, whatever the declaration order.
    model::ZELStock zel;
    zel.set_closepx(1);
    EXPECT_EQ(Bytes(zel), std::string("\x98\x05\x01", 3));
    model::MDStock md;
    md.set_closepx(1.0);
    EXPECT_EQ(Bytes(md), std::string("\x99\x05\x00\x00\x00\x00\x00\x00\xF0\x3F", 10));
}

TEST(SchemaEnvelope, FieldNumberAloneSelectsTheDeclaration) {
    model::ZELStock zel;
    zel.set_lastpx(123456);
    zel.set_zelsecurityid("600000.SH");
    const std::string zel_bytes = Bytes(zel);

    model::MarketData as_zel;
    as_zel.set_zelmessagechannel(-7);
    *as_zel.mutable_zelstock() = zel;
    const std::string framed = Bytes(as_zel);
    // Channel first (varint of -7 takes ten bytes), then field 3 length-delimited.
    ASSERT_GT(framed.size(), 12u);
    EXPECT_EQ(framed[0], '\x08');
    EXPECT_EQ(framed[11], '\x1A');

    model::MDStock md;
    md.set_lastpx(12.5);
    model::MarketData as_md;
    *as_md.mutable_mdstock() = md;
    const std::string md_framed = Bytes(as_md);
    ASSERT_GE(md_framed.size(), 2u);
    EXPECT_EQ(md_framed.substr(0, 2), std::string("\xA2\x01", 2));

    model::MarketData back;
    ASSERT_TRUE(back.ParseFromString(md_framed));
    EXPECT_TRUE(back.has_mdstock());
    EXPECT_FALSE(back.has_zelstock());
    EXPECT_EQ(back.mdstock().lastpx(), 12.5);

    // The integer record's bytes under the floating record's number: the varint price does not
    // match the double's wire type, so it is kept aside as unknown rather than read as a price.
    std::string swapped("\xA2\x01", 2);
    swapped.push_back(static_cast<char>(zel_bytes.size()));
    swapped += zel_bytes;
    model::MarketData misread;
    ASSERT_TRUE(misread.ParseFromString(swapped));
    EXPECT_TRUE(misread.has_mdstock());
    EXPECT_FALSE(misread.has_zelstock());
    EXPECT_EQ(misread.mdstock().lastpx(), 0.0);
    EXPECT_EQ(misread.mdstock().zelsecurityid(), "600000.SH");
    EXPECT_FALSE(misread.mdstock().GetReflection()->GetUnknownFields(misread.mdstock()).empty());

    model::MarketData right;
    ASSERT_TRUE(right.ParseFromString(framed));
    EXPECT_EQ(right.zelmessagechannel(), -7);
    EXPECT_EQ(right.zelstock().lastpx(), 123456);
}

TEST(SchemaRoundTrip, FilledMessagesSurviveEncoding) {
    model::MarketData all;
    Fill(&all, 0);
    EXPECT_EQ(all.zelstock().closepx(), 1000000000000LL * 830 + 7);
    EXPECT_EQ(all.mdstock().closepx(), 830.125);
    EXPECT_EQ(all.zelorderbook().buyentries_size(), 3);
    EXPECT_EQ(all.zelorderbook().sellentries(2).orderqtylist_size(), 3);

    const std::string bytes = Bytes(all);
    model::MarketData back;
    ASSERT_TRUE(back.ParseFromString(bytes));
    EXPECT_TRUE(pb::util::MessageDifferencer::Equals(all, back));
    EXPECT_EQ(back.mdbond().buysettltypequeue(1), 641.125);
    EXPECT_EQ(back.zelbond().buysettltypequeue(1), -641);

    // Every record class parses a truncated buffer as a failure rather than a half record.
    model::MarketData cut;
    EXPECT_FALSE(cut.ParseFromArray(bytes.data(), static_cast<int>(bytes.size()) - 1));

    std::vector<std::unique_ptr<pb::Message>> system;
    system.emplace_back(new model::MetaData);
    system.emplace_back(new model::SysHeartbeat);
    system.emplace_back(new model::LoginRequest);
    system.emplace_back(new model::LoginResponse);
    system.emplace_back(new model::SubscribeRequest);
    system.emplace_back(new model::SubscribeResponse);
    for (auto& m : system) {
        SCOPED_TRACE(m->GetTypeName());
        Fill(m.get(), 0);
        std::unique_ptr<pb::Message> copy(m->New());
        ASSERT_TRUE(copy->ParseFromString(Bytes(*m)));
        EXPECT_TRUE(pb::util::MessageDifferencer::Equals(*m, *copy));
        std::string json;
        EXPECT_TRUE(pb::util::MessageToJsonString(*copy, &json).ok());
    }
}

TEST(SchemaRoundTrip, ZeroScalarsAreAbsentOnTheWire) {
    model::SysHeartbeat beat;
    beat.set_trafficlog(0);
    EXPECT_EQ(beat.ByteSizeLong(), 0u);
    model::LoginRequest login;
    login.set_apptype(0);
    login.set_appversion("1.0.0");
    EXPECT_EQ(Bytes(login), std::string("\x12\x05"
                                        "1.0.0",
                                        7));
}

}  // namespace
