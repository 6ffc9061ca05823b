<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja_JP">
<context>
    <name>vlm::SetupDialog</name>
    <message>
        <source>Pメロディ(als)</source>
        <translation>P-melody (als)</translation>
    </message>
    <message>
        <source>iメロディ(mld)</source>
        <translation>i-melody (mld)</translation>
    </message>
    <message>
        <source>EZwebメロディ(pmd)</source>
        <translation>EZweb melody (pmd)</translation>
    </message>
    <message>
        <source>J-SKYメロディ(smd/smz)</source>
        <translation>J-SKY melody (smd/smz)</translation>
    </message>
    <message>
        <source>音楽ﾏｸﾛ言語(mml)</source>
        <translation>Music Macro Language (mml)</translation>
    </message>
    <message>
        <source>MIDIファイル(mid)</source>
        <translation>MIDI file (mid)</translation>
    </message>
    <message>
        <source>ﾄﾞｯﾄiｽｰﾊﾟｰ着ﾒﾛ(mel/sml)</source>
        <translation>Dot-i Super ringtone (mel/sml)</translation>
    </message>
    <message>
        <source>関連付け再設定</source>
        <translation>Reset File Associations</translation>
    </message>
    <message>
        <source>同時に開けるﾌｧｲﾙ数</source>
        <translation>Files open at once</translation>
    </message>
    <message>
        <source>(要再起動)</source>
        <translation>(needs a restart)</translation>
    </message>
    <message>
        <source>CGボタンのカスタマイズ有効</source>
        <translation>Customised graphic buttons</translation>
    </message>
    <message>
        <source>外部ｿﾌﾄ名</source>
        <translation>External Programs</translation>
    </message>
    <message>
        <source>(今再生中のﾌｧｲﾙを他ｿﾌﾄで開けます。)</source>
        <translation>(Opens the playing file in another program.)</translation>
    </message>
    <message>
        <source>ｷｬﾝｾﾙ</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>適用</source>
        <translation>Apply</translation>
    </message>
    <message>
        <source>INIﾌｧｲﾙ編集</source>
        <translation>Edit INI File</translation>
    </message>
    <message>
        <source>%1 が見つからないため関連付けは変更できません</source>
        <translation>%1 is missing, so the associations cannot be changed</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙ名%1</source>
        <translation>File %1</translation>
    </message>
    <message>
        <source>表示名%1</source>
        <translation>Name %1</translation>
    </message>
    <message>
        <source>%1 を書き込めません</source>
        <translation>Cannot write %1</translation>
    </message>
    <message>
        <source>設定を保存しました</source>
        <translation>Settings saved</translation>
    </message>
    <message>
        <source>
起動中のVlmPlayer %1 個に再読込を通知しました</source>
        <translation>
Asked %1 running VlmPlayer(s) to reload</translation>
    </message>
    <message>
        <source>%1 を作成できません</source>
        <translation>Cannot create %1</translation>
    </message>
    <message>
        <source>%1 を開くエディタが見つかりません</source>
        <translation>No editor found to open %1</translation>
    </message>
    <message>
        <source>%1 を起動できません (%2)</source>
        <translation>Cannot start %1 (%2)</translation>
    </message>
    <message>
        <source>%1 が失敗しました (終了コード %2)</source>
        <translation>%1 failed (exit code %2)</translation>
    </message>
    <message>
        <source>時間切れ</source>
        <translation>timed out</translation>
    </message>
    <message>
        <source>%1 を削除できません</source>
        <translation>Cannot delete %1</translation>
    </message>
    <message>
        <source>%1 を読めません</source>
        <translation>Cannot read %1</translation>
    </message>
</context>
</TS>
