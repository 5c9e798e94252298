// The value views: compact writing, deep copies between documents, nulling a value.
#include <gtest/gtest.h>

#include <cstring>

#include "../runtime/test_print.h"
#include "json/json_builder.h"

namespace {

// A document read from UTF-8 text, owned by the test.
YyMutDocPtr Document(const char* text) {
  yyjson_doc* read = yyjson_read(text, std::strlen(text), 0);
  EXPECT_NE(read, nullptr) << text;
  YyMutDocPtr document(yyjson_doc_mut_copy(read, nullptr));
  yyjson_doc_free(read);
  return document;
}

yyjson_mut_val* At(yyjson_mut_doc* document, const char* pointer) { return yyjson_mut_doc_ptr_get(document, pointer); }

TEST(JsonBuilder, WritesCompactJson) {
  YyMutDocPtr document = Document("{ \"a\" : \"say \\\"hi\\\"\" , \"b\" : [ 1 , 2.5 , null , true ] , \"c\" : { } }");
  rg_JSONGouZaoShuZuLei_yy view;
  view.Attach(document.get(), yyjson_mut_doc_get_root(document.get()));
  EXPECT_EQ(view.WriteJson(), L"{\"a\":\"say \\\"hi\\\"\",\"b\":[1,2.5,null,true],\"c\":{}}");
  view.Attach(document.get(), At(document.get(), "/b"));
  EXPECT_EQ(view.WriteJson(), L"[1,2.5,null,true]");
  view.Attach(document.get(), At(document.get(), "/a"));
  EXPECT_EQ(view.WriteJson(), L"") << "only arrays and objects are written";
}

TEST(JsonBuilder, WritesEscapesAndNonAsciiText) {
  YyMutDocPtr document = Document("[\"\\u0001\\n\\\\/\xE5\x90\x8D\"]");
  rg_JSONGouZaoShuZuLei_yy view;
  view.Attach(document.get(), yyjson_mut_doc_get_root(document.get()));
  EXPECT_EQ(view.WriteJson(), L"[\"\\u0001\\n\\\\/名\"]");
}

TEST(JsonBuilder, AttachNeedsBothArguments) {
  YyMutDocPtr document = Document("[1]");
  rg_JSONGouZaoShuZuLei_yy view;
  view.Attach(document.get(), yyjson_mut_doc_get_root(document.get()));
  EXPECT_TRUE(view.IsAttached());
  view.Attach(nullptr, yyjson_mut_doc_get_root(document.get()));
  EXPECT_EQ(view.valueDocument, nullptr);
  EXPECT_EQ(view.value, nullptr);
  view.Attach(document.get(), nullptr);
  EXPECT_EQ(view.valueDocument, nullptr);
  EXPECT_EQ(view.WriteJson(), L"");
}

TEST(JsonBuilder, SetNull) {
  rg_JSONGouZaoShuZuLei_yy detached;
  EXPECT_FALSE(detached.SetNull());
  YyMutDocPtr document = Document("{\"a\":[1,2],\"b\":1}");
  rg_JSONGouZaoShuZuLei_yy view;
  view.Attach(document.get(), At(document.get(), "/a"));
  EXPECT_TRUE(view.SetNull());
  EXPECT_EQ(view.WriteJson(), L"");
  rg_JSONGouZaoShuZuLei_yy whole;
  whole.Attach(document.get(), yyjson_mut_doc_get_root(document.get()));
  EXPECT_EQ(whole.WriteJson(), L"{\"a\":null,\"b\":1}");
}

TEST(JsonBuilder, ArrayBuilderCopiesShareTheDocument) {
  YyMutDocPtr document = Document("[1]");
  rg_JSONGouZaoShuZuLei_yy view;
  view.Attach(document.get(), yyjson_mut_doc_get_root(document.get()));
  rg_JSONGouZaoShuZuLei_yy copy(view);
  EXPECT_EQ(copy.valueDocument, view.valueDocument);
  EXPECT_EQ(copy.value, view.value);
}

TEST(JsonBuilder, CopyFromMakesAnIndependentDocument) {
  YyMutDocPtr document = Document("{\"list\":[{\"k\":\"v\"},2],\"s\":\"text\"}");
  rg_JSONGouZaoDuiXiangLei_yy builder;
  ASSERT_TRUE(builder.CopyFrom(document.get(), At(document.get(), "/list")));
  ASSERT_NE(builder.OwnDocument(), nullptr);
  EXPECT_NE(builder.OwnDocument(), document.get());
  EXPECT_EQ(builder.valueDocument, builder.OwnDocument());
  document.reset();  // the copy no longer depends on its source
  EXPECT_EQ(builder.WriteJson(), L"[{\"k\":\"v\"},2]");

  rg_JSONGouZaoDuiXiangLei_yy copied(builder);
  EXPECT_NE(copied.OwnDocument(), builder.OwnDocument());
  builder.Clear();
  EXPECT_EQ(copied.WriteJson(), L"[{\"k\":\"v\"},2]");
}

TEST(JsonBuilder, CopyFromAScalarLeavesTheBuilderEmpty) {
  YyMutDocPtr document = Document("{\"s\":\"text\",\"o\":{}}");
  rg_JSONGouZaoDuiXiangLei_yy builder;
  ASSERT_TRUE(builder.CopyFrom(document.get(), At(document.get(), "/o")));
  EXPECT_FALSE(builder.CopyFrom(document.get(), At(document.get(), "/s")));
  EXPECT_EQ(builder.OwnDocument(), nullptr);
  EXPECT_FALSE(builder.IsAttached());
  EXPECT_EQ(builder.WriteJson(), L"");
  EXPECT_FALSE(builder.CopyFrom(nullptr, nullptr));
}

TEST(JsonBuilder, CopyFromItsOwnValue) {
  rg_JSONGouZaoDuiXiangLei_yy builder;
  const char text[] = "{\"inner\":[1,[2]]}";
  ASSERT_TRUE(builder.Read(text, sizeof text - 1));
  ASSERT_TRUE(builder.CopyFrom(builder.OwnDocument(), yyjson_mut_doc_ptr_get(builder.OwnDocument(), "/inner")));
  EXPECT_EQ(builder.WriteJson(), L"[1,[2]]");
}

TEST(JsonBuilder, ReadKeepsTheError) {
  rg_JSONGouZaoDuiXiangLei_yy builder;
  const char bad[] = "[1,";
  EXPECT_FALSE(builder.Read(bad, sizeof bad - 1));
  EXPECT_NE(builder.readErrorCode, 0);
  EXPECT_EQ(builder.readErrorMessage, L"unexpected end of data");
  EXPECT_FALSE(builder.IsAttached());
  char padded[] = "[1]\0\0\0\0";
  EXPECT_TRUE(builder.ReadInPlace(padded, 3));
  EXPECT_EQ(builder.readErrorCode, 0);
  EXPECT_EQ(builder.WriteJson(), L"[1]");
}

TEST(JsonBuilder, DeepValuesCopyWithoutRecursion) {
  const int depth = 100000;
  std::string text(depth, '[');
  text += std::string(depth, ']');
  YyMutDocPtr document = Document(text.c_str());
  rg_JSONGouZaoDuiXiangLei_yy builder;
  ASSERT_TRUE(builder.CopyFrom(document.get(), yyjson_mut_doc_get_root(document.get())));
  EXPECT_EQ(builder.WriteJson().Length(), 2 * depth);
}

}  // namespace
