// The drawing container's reset and release.
#include <gtest/gtest.h>

#include "jww_builder.h"
#include "model/jww_data.h"
#include "test_support.h"

namespace tervalo {
namespace {

// A version-700 drawing with an insert, two definitions with members, a text
// and a point, read into a container.
void ReadSmallDrawing(TJwwData& jww) {
    const Bytes body = test::JwwBodyBuilder(700)
                           .point(1, 2, true)
                           .text("memo")
                           .block(0, 0, 5)
                           .def(5, "outer")
                           .line(0, 0, 1, 1)
                           .block(2, 2, 9)
                           .def(9, "inner")
                           .point(3, 4)
                           .build();
    ASSERT_TRUE(jww.ReadFromBuffer(test::BuildJww(700, body))) << jww.LastError();
    ASSERT_EQ(jww.EntBlockDefN, 2);
    ASSERT_EQ(jww.EntBlockDef[0].mBlockN, 1);
    jww.MakeBlockTree();
    ASSERT_EQ(jww.EntBlockTreeN, 2);
}

TEST(JwwData, DataInitEmptiesEverythingButTheImageSettings) {
    TJwwData jww;
    jww.BindImageFolder = u"/work/";
    jww.BindImageExp = true;
    jww.BindImageExr = true;
    ReadSmallDrawing(jww);
    jww.SetFileOutOption(32);
    jww.MojiEncode = true;
    jww.myMaxWx = 7;

    jww.DataInit();
    EXPECT_EQ(jww.Enthd, TEntJwwHeader{});
    EXPECT_EQ(jww.Enthd.jwVer, 0);
    EXPECT_EQ(jww.Enthd.dBairitsu, 1.0);
    EXPECT_EQ(jww.Enthd.nZoomJumpGLay[7], -1);
    EXPECT_EQ(jww.Enthd.dZoomJumpBairitsu[0], 1.0);
    for (std::size_t n : {jww.EntLgrp.size(), jww.EntLay.size(), jww.EntCol.size(), jww.EntLtp1.size(),
                          jww.EntLtp2.size(), jww.EntLtp3.size(), jww.EntColS.size(), jww.EntLtpS.size(),
                          jww.EntMoj.size(), jww.EntNo.size(), jww.EntTen.size(), jww.EntMoji.size(),
                          jww.EntBlock.size(), jww.EntBlockDef.size(), jww.EntBlockTree.size(), jww.BindImage.size()})
        EXPECT_EQ(n, 0u);
    EXPECT_EQ(jww.EntTenN + jww.EntMojiN + jww.EntBlockN + jww.EntBlockDefN + jww.EntBlockTreeN, 0);
    EXPECT_EQ(jww.EntBlockNum, 0);
    EXPECT_EQ(jww.FileOutOpt, 0);
    EXPECT_FALSE(jww.MojiEncode);
    // What the application set for its image work folder survives.
    EXPECT_EQ(jww.BindImageFolder, u"/work/");
    EXPECT_TRUE(jww.BindImageExp);
    EXPECT_TRUE(jww.BindImageExr);
    EXPECT_EQ(jww.myMaxWx, 7);
}

TEST(JwwData, DataFreeReleasesDefinitionsAndTheContainerIsReusable) {
    TJwwData jww;
    ReadSmallDrawing(jww);
    jww.DataFree();
    EXPECT_EQ(jww.EntBlockDefN, 0);
    EXPECT_TRUE(jww.EntBlockDef.empty());
    EXPECT_EQ(jww.Enthd.n2, 0);
    // The same container reads the next file as if it were new.
    ReadSmallDrawing(jww);
    EXPECT_EQ(jww.EntTenN, 1);
    EXPECT_EQ(jww.EntBlockDef[1].mTenN, 1);
}

}  // namespace
}  // namespace tervalo
