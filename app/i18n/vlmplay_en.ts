<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja_JP">
<context>
    <name>vlm::MainWindow</name>
    <message>
        <source>ファイル(&amp;F)</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙを開く(&amp;O)</source>
        <translation>&amp;Open File</translation>
    </message>
    <message>
        <source>作成したﾌｧｲﾙを開く</source>
        <translation>Open Created File</translation>
    </message>
    <message>
        <source>WAVEﾌｧｲﾙ作成</source>
        <translation>Create WAVE File</translation>
    </message>
    <message>
        <source>feelsound作成</source>
        <translation>Create feelsound</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨ作成</source>
        <translation>Create i-melody</translation>
    </message>
    <message>
        <source>au-PMDﾌｧｲﾙ作成</source>
        <translation>Create au-PMD File</translation>
    </message>
    <message>
        <source>SMAFﾌｧｲﾙ作成</source>
        <translation>Create SMAF File</translation>
    </message>
    <message>
        <source>ﾌﾟﾚｲﾘｽﾄﾌｧｲﾙ作成</source>
        <translation>Create Playlist File</translation>
    </message>
    <message>
        <source>自動変換モード</source>
        <translation>Automatic Conversion Mode</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙﾌﾟﾛﾊﾟﾃｨ(&amp;R)</source>
        <translation>File P&amp;roperties</translation>
    </message>
    <message>
        <source>終了(&amp;X)</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>設定(&amp;S)</source>
        <translation>&amp;Settings</translation>
    </message>
    <message>
        <source>初期化(key/speed/vol)</source>
        <translation>Reset (key/speed/vol)</translation>
    </message>
    <message>
        <source>音量変更(&amp;V)</source>
        <translation>Change &amp;Volume</translation>
    </message>
    <message>
        <source>音色変更(&amp;S)</source>
        <translation>Change &amp;Sounds</translation>
    </message>
    <message>
        <source>オクターブ変更(&amp;O)</source>
        <translation>Change &amp;Octave</translation>
    </message>
    <message>
        <source>ドラム選択(&amp;D)</source>
        <translation>Select &amp;Drums</translation>
    </message>
    <message>
        <source>常に手前に表示(&amp;W)</source>
        <translation>Always on Top (&amp;W)</translation>
    </message>
    <message>
        <source>コントロール表示(&amp;C)</source>
        <translation>Show &amp;Controls</translation>
    </message>
    <message>
        <source>拡張ﾂｰﾙﾎﾞﾀﾝ</source>
        <translation>Extended Toolbar Buttons</translation>
    </message>
    <message>
        <source>ｶｽﾀﾑﾎﾞﾀﾝ</source>
        <translation>Custom Buttons</translation>
    </message>
    <message>
        <source>ｽｸﾛｰﾙﾊﾞｰ</source>
        <translation>Scroll Bar</translation>
    </message>
    <message>
        <source>ﾃﾞｨｽﾌﾟﾚｲ</source>
        <translation>Display</translation>
    </message>
    <message>
        <source>ｶﾗｵｹﾃﾞｨｽﾌﾟﾚｲ</source>
        <translation>Karaoke Display</translation>
    </message>
    <message>
        <source>ﾁｬﾝﾈﾙﾓﾆﾀ</source>
        <translation>Channel Monitor</translation>
    </message>
    <message>
        <source>ﾁｬﾝﾈﾙ選択ﾊﾟﾈﾙ</source>
        <translation>Channel Selection Panel</translation>
    </message>
    <message>
        <source>ﾌﾟﾚｲﾘｽﾄ</source>
        <translation>Playlist</translation>
    </message>
    <message>
        <source>ｶﾗｵｹｽｸﾛｰﾙ(XF/KAR)</source>
        <translation>Karaoke Scrolling (XF/KAR)</translation>
    </message>
    <message>
        <source>音響効果設定</source>
        <translation>Sound Effects</translation>
    </message>
    <message>
        <source>音響効果有効</source>
        <translation>Sound Effects On</translation>
    </message>
    <message>
        <source>ﾓｼﾞｭﾚｰｼｮﾝ</source>
        <translation>Modulation</translation>
    </message>
    <message>
        <source>ｽﾃﾚｵ</source>
        <translation>Stereo</translation>
    </message>
    <message>
        <source>ﾎｰﾙﾄﾞ</source>
        <translation>Hold</translation>
    </message>
    <message>
        <source>ﾋﾟｯﾁﾍﾞﾝﾄﾞ</source>
        <translation>Pitch Bend</translation>
    </message>
    <message>
        <source>ﾋﾟｯﾁﾍﾞﾝﾄﾞﾚﾝｼﾞ</source>
        <translation>Pitch Bend Range</translation>
    </message>
    <message>
        <source>その他</source>
        <translation>Others</translation>
    </message>
    <message>
        <source>ｽﾃﾚｵ左最大</source>
        <translation>Stereo Full Left</translation>
    </message>
    <message>
        <source>高音優先</source>
        <translation>High Notes First</translation>
    </message>
    <message>
        <source>ﾋﾟｯﾁﾍﾞﾝﾄﾞ音階展開</source>
        <translation>Pitch Bend to Notes</translation>
    </message>
    <message>
        <source>ﾋﾟｯﾁﾍﾞﾝﾄﾞ省ｴﾈ(0.5半音)</source>
        <translation>Economical Pitch Bend (0.5 Semitone)</translation>
    </message>
    <message>
        <source>ﾃﾝﾎﾟ時間展開</source>
        <translation>Expand Tempo into Time</translation>
    </message>
    <message>
        <source>変換オプション設定</source>
        <translation>Conversion Options</translation>
    </message>
    <message>
        <source>先頭休符カット</source>
        <translation>Cut Leading Rest</translation>
    </message>
    <message>
        <source>終了休符カット</source>
        <translation>Cut Trailing Rest</translation>
    </message>
    <message>
        <source>先頭4分休符挿入</source>
        <translation>Insert Leading Quarter Rest</translation>
    </message>
    <message>
        <source>終了4分休符付加</source>
        <translation>Append Trailing Quarter Rest</translation>
    </message>
    <message>
        <source>ﾁｬﾝﾈﾙ設定</source>
        <translation>Channel Settings</translation>
    </message>
    <message>
        <source>変換ｲﾒｰｼﾞ試聴</source>
        <translation>Preview Conversion</translation>
    </message>
    <message>
        <source>3和音(PSG音源)</source>
        <translation>3 Voices (PSG)</translation>
    </message>
    <message>
        <source>4和音(FM音源)</source>
        <translation>4 Voices (FM)</translation>
    </message>
    <message>
        <source>8和音(FM音源)</source>
        <translation>8 Voices (FM)</translation>
    </message>
    <message>
        <source>16和音(FM音源)</source>
        <translation>16 Voices (FM)</translation>
    </message>
    <message>
        <source>12和音(feelsound)</source>
        <translation>12 Voices (feelsound)</translation>
    </message>
    <message>
        <source>再生不具合設定</source>
        <translation>Playback Problem Settings</translation>
    </message>
    <message>
        <source>GMﾘｾｯﾄ挿入</source>
        <translation>Insert GM Reset</translation>
    </message>
    <message>
        <source>GSﾊﾞﾝｸ切替対応</source>
        <translation>Follow GS Bank Changes</translation>
    </message>
    <message>
        <source>ｴｸｽｸﾙｰｼﾌﾞ有効</source>
        <translation>Exclusive Messages On</translation>
    </message>
    <message>
        <source>自動再生(ﾄﾞﾛｯﾌﾟ時)</source>
        <translation>Play on Drop</translation>
    </message>
    <message>
        <source>SMAF音色を端末音源で再生</source>
        <translation>Play SMAF Voices with the Handset Synthesizer</translation>
    </message>
    <message>
        <source>再生(&amp;P)</source>
        <translation>&amp;Play</translation>
    </message>
    <message>
        <source>停止(&amp;S)</source>
        <translation>&amp;Stop</translation>
    </message>
    <message>
        <source>前曲移動(&amp;B)</source>
        <translation>Previous Song (&amp;B)</translation>
    </message>
    <message>
        <source>次曲移動(&amp;N)</source>
        <translation>&amp;Next Song</translation>
    </message>
    <message>
        <source>先頭曲移動(&amp;T)</source>
        <translation>Firs&amp;t Song</translation>
    </message>
    <message>
        <source>再生・変換範囲選択</source>
        <translation>Select Play/Convert Range</translation>
    </message>
    <message>
        <source>1曲繰返し(&amp;L)</source>
        <translation>Repeat One (&amp;L)</translation>
    </message>
    <message>
        <source>全曲繰返し(&amp;A)</source>
        <translation>Repeat &amp;All</translation>
    </message>
    <message>
        <source>2回演奏(ﾙｰﾌﾟ確認)</source>
        <translation>Play Twice (Check Loop)</translation>
    </message>
    <message>
        <source>イントロ演奏(&amp;I)</source>
        <translation>&amp;Intro Play</translation>
    </message>
    <message>
        <source>着信音指定範囲再生</source>
        <translation>Play Ringtone Range</translation>
    </message>
    <message>
        <source>曲順シャッフル(&amp;R)</source>
        <translation>Shuffle (&amp;R)</translation>
    </message>
    <message>
        <source>ｸﾘｯﾌﾟﾎﾞｰﾄﾞ再生(&amp;V)</source>
        <translation>Play Clipboard (&amp;V)</translation>
    </message>
    <message>
        <source>ツール(&amp;T)</source>
        <translation>&amp;Tools</translation>
    </message>
    <message>
        <source>Outlook送信</source>
        <translation>Send by Mail</translation>
    </message>
    <message>
        <source>設定ソフト起動</source>
        <translation>Run Setup Tool</translation>
    </message>
    <message>
        <source>ヘルプ(&amp;H)</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>目次(&amp;C)</source>
        <translation>&amp;Contents</translation>
    </message>
    <message>
        <source>readme.txtを読む(&amp;R)</source>
        <translation>&amp;Read readme.txt</translation>
    </message>
    <message>
        <source>ホームページに行く(&amp;W)</source>
        <translation>Go to Home Page (&amp;W)</translation>
    </message>
    <message>
        <source>このプログラムについて(&amp;A)</source>
        <translation>&amp;About</translation>
    </message>
    <message>
        <source>表示色</source>
        <translation>Display Colour</translation>
    </message>
    <message>
        <source>色1</source>
        <translation>Colour 1</translation>
    </message>
    <message>
        <source>色2</source>
        <translation>Colour 2</translation>
    </message>
    <message>
        <source>色3</source>
        <translation>Colour 3</translation>
    </message>
    <message>
        <source>色4</source>
        <translation>Colour 4</translation>
    </message>
    <message>
        <source>色5</source>
        <translation>Colour 5</translation>
    </message>
    <message>
        <source>色6</source>
        <translation>Colour 6</translation>
    </message>
    <message>
        <source>色7</source>
        <translation>Colour 7</translation>
    </message>
    <message>
        <source>色8</source>
        <translation>Colour 8</translation>
    </message>
    <message>
        <source>ランダム</source>
        <translation>Random</translation>
    </message>
    <message>
        <source>MIDIﾌｧｲﾙ作成</source>
        <translation>Create MIDI File</translation>
    </message>
    <message>
        <source>feelsound12和音作成</source>
        <translation>Create feelsound 12 Voices</translation>
    </message>
    <message>
        <source>feelsound32和音作成</source>
        <translation>Create feelsound 32 Voices</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨFM16和音作成(N)</source>
        <translation>Create i-melody FM 16 Voices (N)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨPCM16和音作成(P,D)</source>
        <translation>Create i-melody PCM 16 Voices (P,D)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨPCM24和音作成(SO)</source>
        <translation>Create i-melody PCM 24 Voices (SO)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨPCM32和音作成(633S)</source>
        <translation>Create i-melody PCM 32 Voices (633S)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨFM16和音作成(F)</source>
        <translation>Create i-melody FM 16 Voices (F)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨPCM24和音作成(D211i)</source>
        <translation>Create i-melody PCM 24 Voices (D211i)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨ40和音作成(251/504i)</source>
        <translation>Create i-melody 40 Voices (251/504i)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨ40和音作成(SO504i)</source>
        <translation>Create i-melody 40 Voices (SO504i)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨ3和音作成(P,D,SO)</source>
        <translation>Create i-melody 3 Voices (P,D,SO)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨ3和音作成(SH821i)</source>
        <translation>Create i-melody 3 Voices (SH821i)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨ4和音作成(641S)</source>
        <translation>Create i-melody 4 Voices (641S)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨ4和音作成(N,F209i)</source>
        <translation>Create i-melody 4 Voices (N,F209i)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨ4和音作成(641P)</source>
        <translation>Create i-melody 4 Voices (641P)</translation>
    </message>
    <message>
        <source>SMAF16和音作成(J-SKY)</source>
        <translation>Create SMAF 16 Voices (J-SKY)</translation>
    </message>
    <message>
        <source>SMAF16和音作成(EZweb)</source>
        <translation>Create SMAF 16 Voices (EZweb)</translation>
    </message>
    <message>
        <source>SMAF4和音作成(J-SKY)</source>
        <translation>Create SMAF 4 Voices (J-SKY)</translation>
    </message>
    <message>
        <source>SMAF4和音作成(EZweb)</source>
        <translation>Create SMAF 4 Voices (EZweb)</translation>
    </message>
    <message>
        <source>SMAF40和音作成</source>
        <translation>Create SMAF 40 Voices</translation>
    </message>
    <message>
        <source>au-PMD16和音作成</source>
        <translation>Create au-PMD 16 Voices</translation>
    </message>
    <message>
        <source>au-PMD3和音作成</source>
        <translation>Create au-PMD 3 Voices</translation>
    </message>
    <message>
        <source>Outlook送信&#x9;Ctrl+M</source>
        <translation>Send by Mail&#x9;Ctrl+M</translation>
    </message>
    <message>
        <source>空のファイル</source>
        <translation>empty file</translation>
    </message>
    <message>
        <source>対応していない形式</source>
        <translation>unsupported format</translation>
    </message>
    <message>
        <source>途中で切れています</source>
        <translation>cut short</translation>
    </message>
    <message>
        <source>演奏できるデータがありません</source>
        <translation>nothing to play</translation>
    </message>
    <message>
        <source>読み込めません: %1</source>
        <translation>Cannot read: %1</translation>
    </message>
    <message>
        <source>変換範囲指定</source>
        <translation>Convert Range</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙﾌﾟﾛﾊﾟﾃｨ</source>
        <translation>File Properties</translation>
    </message>
</context>
</TS>
